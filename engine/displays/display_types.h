// Enumerations the display components share.
#pragma once

#include "engine/framework/mm_types.h"

namespace tunefold {

enum TMMDecayMode { dmNone, dmStepUp, dmExponential, dmUniform };

} // namespace tunefold
