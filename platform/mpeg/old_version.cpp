// A decoder library of an old release: only the version entry point, below what the player needs.
#include "platform/mpeg/mmmpeg.h"

extern "C" int32_t mpeg_Version(void) {
    return 19;
}
