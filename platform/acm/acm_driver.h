// Inside the compression manager: a driver says which conversions it can do and what it would
// suggest, and opens codecs; a codec converts bytes of one stream.
#pragma once

#include <memory>

#include "platform/acm/acm.h"

namespace tunefold::platform::acm {

class Codec {
public:
    virtual ~Codec() = default;
    // An upper bound of the bytes `sourceBytes` of input can yield (a flush included).
    virtual DWORD DestinationSize(DWORD sourceBytes) const = 0;
    // The source bytes that yield at most `destinationBytes`.
    virtual DWORD SourceSize(DWORD destinationBytes) const = 0;
    // Converts what it can of `src` (whole source blocks; with the end flag whatever is left, and
    // then the codec's own buffered output). `used` tells how much input was taken; input that is
    // not taken must be offered again.
    virtual MMRESULT Convert(const BYTE* src, DWORD srcLen, DWORD& used, BYTE* dst, DWORD dstLen,
                             DWORD& produced, DWORD flags) = 0;
    // Forgets all state (start flag).
    virtual void Reset() = 0;
};

class Driver {
public:
    virtual ~Driver() = default;
    virtual bool Supports(const WAVEFORMATEX& src, const WAVEFORMATEX& dst) const = 0;
    // A destination for `src` under the constraints of `want` selected by `flags`; false when the
    // driver has none.
    virtual bool Suggest(const WAVEFORMATEX& src, const WAVEFORMATEX& want, DWORD flags,
                         WAVEFORMATEX& out) const = 0;
    virtual std::unique_ptr<Codec> Open(const WAVEFORMATEX& src, const WAVEFORMATEX& dst,
                                        bool nonRealtime) const = 0;
};

const Driver& PcmDriver();
const Driver& G711Driver();
const Driver& ImaAdpcmDriver();
const Driver& MsAdpcmDriver();
const Driver& MpegDriver();

constexpr WORD kTagPcm = 1;
constexpr WORD kTagMsAdpcm = 2;
constexpr WORD kTagALaw = 6;
constexpr WORD kTagMuLaw = 7;
constexpr WORD kTagImaAdpcm = 17;
constexpr WORD kTagMpeg = 80;
constexpr WORD kTagMpegLayer3 = 85;

// A PCM stream of 8 or 16 bits, one or two channels, at a rate the manager handles.
bool PlainPcm(const WAVEFORMATEX& f);
void MakePcm(WAVEFORMATEX& f, int bits, int channels, DWORD rate);
bool SupportedRate(DWORD rate);

} // namespace tunefold::platform::acm
