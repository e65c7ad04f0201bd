// Enumerations the display components share.
#pragma once

namespace tunefold {

enum TMMMode { mMono, mStereo, mQuadro };
enum TMMBits { b8Bit, b16Bit };
enum TMMDecayMode { dmNone, dmStepUp, dmExponential, dmUniform };

} // namespace tunefold
