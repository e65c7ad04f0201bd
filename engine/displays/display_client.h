// What every display offers the connector that feeds it.
#pragma once

#include "engine/framework/component.h"
#include "platform/wave_types.h"

namespace tunefold {

class TMMDisplayClient {
public:
    virtual ~TMMDisplayClient() = default;
    // Adopt the PCM format (bits and channels, the rate where needed); a refused format raises the
    // display's own error.
    virtual void SetDisplayFormat(const WAVEFORMATEX* format) = 0;
    // Bytes consumed per update.
    virtual int BytesPerUpdate() const = 0;
    // Analyse the chunk that starts at `data` and redraw.
    virtual void ShowData(const void* data) = 0;
    // Clear to silence.
    virtual void ResetDisplay() = 0;
    // The component behind the display (its removal detaches it).
    virtual TComponent* DisplayComponent() = 0;
};

} // namespace tunefold
