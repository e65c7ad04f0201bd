// Which bytes of a file are MPEG audio frames. Damaged streams, streams cut together from pieces,
// and files with tags or other data around the audio hold bytes that only look like frames: a sync
// word with plausible fields turns up about once in a few thousand random bytes, and the engine,
// left to resynchronise on its own, decodes such a false frame into a full-scale click. The index
// takes a frame that follows its predecessor without a gap as it comes; a frame found by searching
// is taken only when the header right after it agrees with it (or it ends the file). The decoder
// then reads the frames as one gapless stream.
#pragma once

#include <sys/types.h>

#include <vector>

namespace mmmpeg {

// A run of consecutive frames: `length` bytes at file offset `real`, which the stream the engine
// reads holds at offset `virt`.
struct FrameSpan {
    off_t virt = 0;
    off_t real = 0;
    off_t length = 0;
};

// The frame runs of the open file `fd` of `size` bytes, in file order; empty when no frame was
// found (or the file could not be read).
std::vector<FrameSpan> IndexFrames(int fd, off_t size);

} // namespace mmmpeg
