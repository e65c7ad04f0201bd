// What the CD player window shows, as its controller keeps it: the keys' enabled states, the
// three state lights, the track and count panels, the two clocks, the 5 x 5 track grid, the seek
// bar, the volume wheel and the power-dependent colours. Colours are colour references ($BBGGRR);
// the window's colours are fixed, they do not follow the colour scheme.
#pragma once

#include <array>
#include <cstdint>

namespace tunefold {

struct TCdPlayerView {
    bool powerOn = false;

    bool playEnabled = false;
    bool pauseEnabled = false;
    bool stopEnabled = false;
    bool prevEnabled = false;
    bool nextEnabled = false;
    bool trayEnabled = false; // "Open..."

    // "PLAY", "STOP", "PAUSE"
    std::uint32_t playColour = 0x008000;
    std::uint32_t stopColour = 0x000080;
    std::uint32_t pauseColour = 0x008080;
    bool paused = false; // the "PAUSE" light's tag

    // "PR" (current track) and "TR" (track count), blank for 0.
    int currentTrack = 0;
    int trackCount = 0;
    bool panelsEnabled = false;
    std::uint32_t panelCaptionColour = 0x808000;

    // "ELAPSED" and "LENGTH": minutes and seconds.
    int elapsedMinutes = 0;
    int elapsedSeconds = 0;
    int lengthMinutes = 0;
    int lengthSeconds = 0;
    std::uint32_t clockHigh = 0x808000;
    std::uint32_t clockLow = 0x000000;

    // The track grid: cell n-1 lit marks track n still to come.
    std::array<bool, 25> cells{};
    std::uint32_t gridColour = 0x808000;

    // The seek bar, in minutes x 60000 + seconds x 1000 + frames.
    int seekPosition = 0;
    int seekMax = 0;
    bool seekEnabled = false;
    std::uint32_t seekTrackColour = 0x000000;

    int wheelValue = 16384;
    bool wheelEnabled = false;
    std::uint32_t wheelColour = 0x000080; // focused and handle colour

    // "L", "R", "dB", "ELAPSED", "LENGTH"
    std::uint32_t captionColour = 0x808000;
    std::array<std::uint32_t, 3> scaleColours{0x808000, 0x008080, 0x000080};

    // The sound comes through the player's chain read digitally, not through the line input.
    bool digital = false;
    // A drive could be opened at all.
    bool driveOpen = false;
};

} // namespace tunefold
