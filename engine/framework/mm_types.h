// Small enumerations the component families share.
#pragma once

namespace tunefold {

// How a device or timer delivers its notifications.
enum TMMCBMode { cmWindow, cmCallback, cmThread };

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Units of a position (WAVE source, output device).
enum TMMTimeFormats { tfMillisecond, tfByte, tfSample };

using TMMDeviceId = int;

// Channel layout of a stream or a display.
enum TMMMode { mMono, mStereo, mQuadro };

// Sample width of a converter's output or a display's input.
enum TMMBits { b8Bit, b16Bit };

} // namespace tunefold
