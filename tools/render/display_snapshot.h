// The displays a person watches while music plays, without a window: the two level meters and the
// spectrum analyzer with the player's settings, fed by a connector behind the wave output, and a
// picture of all three at one moment.
#pragma once

#include <string>

#include "engine/displays/connector.h"
#include "engine/displays/level.h"
#include "engine/displays/spectrum.h"
#include "engine/framework/raster.h"

namespace tunefold::render {

class DisplaySnapshot {
public:
    explicit DisplaySnapshot(TMMSpectrumKind kind);
    DisplaySnapshot(const DisplaySnapshot&) = delete;
    DisplaySnapshot& operator=(const DisplaySnapshot&) = delete;

    // The stage to put behind the wave output.
    TMMConnector& Connector() { return connector_; }
    // What the player's 30 ms display timer does on every tick.
    void Tick() { connector_.Trigger(); }
    // The left meter, the right meter below it, then the spectrum, on black.
    TRaster Compose();
    bool Save(const std::string& path) { return SaveBMPFile(Compose(), path); }

    // Where the parts sit in the composed picture.
    static constexpr int kMeterLeft = 58;
    static constexpr int kLeftMeterTop = 4;
    static constexpr int kRightMeterTop = 19;
    static constexpr int kSpectrumTop = 34;
    static constexpr int kWidth = 260;
    static constexpr int kHeight = 34 + 103;

private:
    TMMLevel left_;
    TMMLevel right_;
    TMMSpectrum spectrum_;
    TMMConnector connector_;
};

} // namespace tunefold::render
