#include "app/logic/startup.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <thread>
#include <utility>
#include <vector>

#include "app/logic/file_types.h"
#include "app/logic/settings.h"
#include "platform/registry.h"

namespace tunefold {

using platform::HKEY_CURRENT_USER;
using platform::RegistryKey;

namespace {

// The hand-over payload: a marker, then the path, so an empty path is told apart from none.
constexpr std::string_view kPathMarker = "path:";
constexpr std::size_t kMaxSchemeMark = 255;
constexpr std::int32_t kDefaultCDVolume = 16384;

// The running instance's window as `WH` names it; 0 when the key or the value is missing, the value
// is no string or no decimal number. The key is opened without creating it, so nothing is written.
platform::WindowHandle StoredWindowHandle(bool& keyOpened) {
    RegistryKey key;
    keyOpened = key.Open(HKEY_CURRENT_USER, SettingsKeyPath, false);
    std::string text;
    if (!keyOpened || !key.ReadString(settings_value::WH, text)) {
        return 0;
    }
    return platform::ParseWindowHandle(text);
}

bool PostHandOver(platform::WindowHandle handle, std::string_view path) {
    return handle != 0 &&
           platform::SingleInstance().PostToWindow(handle, platform::WM_USER, 0, 0, HandOverPayload(path));
}

std::int32_t ReadInteger(std::string_view name, std::int32_t current) {
    return std::get<std::int32_t>(ReadSettingValue(HKEY_CURRENT_USER, SettingsKeyPath, name, current));
}

// A 32-bit registry integer cut to its low 16 bits, as a signed 16-bit coordinate.
std::int16_t LowSigned16(std::int32_t value) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<std::uint32_t>(value) & 0xFFFFu));
}

} // namespace

std::string AbsoluteArgument(std::string_view argument, std::string_view workingFolder) {
    if (argument.empty() || argument.front() == '/' || workingFolder.empty()) {
        return std::string(argument);
    }
    std::string path(workingFolder);
    if (path.back() != '/') {
        path += '/';
    }
    while (argument.size() >= 2 && argument.substr(0, 2) == "./") {
        argument.remove_prefix(2);
    }
    path.append(argument);
    return path;
}

std::string CurrentWorkingFolder() {
    std::error_code error;
    std::filesystem::path folder = std::filesystem::current_path(error);
    return error ? std::string() : folder.string();
}

std::string HandOverPayload(std::string_view path) {
    std::string payload(kPathMarker);
    payload.append(path);
    return payload;
}

bool HandedOverPath(std::string_view payload, std::string& path) {
    if (payload.substr(0, kPathMarker.size()) != kPathMarker) {
        return false;
    }
    path.assign(payload.substr(kPathMarker.size()));
    return true;
}

TStartDecision HandOverToRunningInstance(std::string_view absoluteArgument) {
    bool keyOpened = false;
    const platform::WindowHandle handle = StoredWindowHandle(keyOpened);
    if (handle == 0) {
        return TStartDecision::StartNormally;
    }
    // Still written: a running instance of an older build reads its file from there.
    WriteSettingValue(HKEY_CURRENT_USER, SettingsKeyPath, settings_value::Param,
                      std::string(absoluteArgument));
    return PostHandOver(handle, absoluteArgument) ? TStartDecision::ExitProcess
                                                  : TStartDecision::StartNormally;
}

THandOverClock THandOverClock::Real() {
    // The other instance gives no signal when its window appears; the retry interval is a pause
    // between attempts with an end, not a wait for another thread of ours.
    return {[] { return std::chrono::steady_clock::now(); },
            [](std::chrono::milliseconds interval) { std::this_thread::sleep_for(interval); }};
}

TMutexStep FormCreateMutexStep(std::string_view absoluteArgument, const THandOverClock& clock,
                               std::chrono::milliseconds limit) {
    TMutexStep step;
    step.mutex = platform::SingleInstance().CreateMutex(InstanceMutexName);
    if (!step.mutex || !step.mutex->AlreadyExisted()) {
        return step; // the only instance (or no mutex to be had: run as if alone)
    }
    step.mutex.reset();
    step.decision = TMutexStep::Decision::ExitProcess;
    const auto deadline = clock.now() + limit;
    for (;;) {
        bool keyOpened = false;
        if (PostHandOver(StoredWindowHandle(keyOpened), absoluteArgument)) {
            step.handedOver = true;
            return step;
        }
        const auto now = clock.now();
        if (now >= deadline) {
            return step;
        }
        clock.wait(std::min(HandOverRetryInterval,
                            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now)));
    }
}

TMainSettings::TMainSettings(std::string programFolder)
    : claimFileTypes([] { return ClaimFileTypes(); }), programFolder_(std::move(programFolder)) {}

void TMainSettings::LoadSettings(TMainSettingsTarget& target) {
    {
        RegistryKey key;
        if (key.Open(HKEY_CURRENT_USER, SettingsKeyPath, true)) {
            key.WriteString(settings_value::WH, platform::WindowHandleText(target.WindowHandle()));
        }
    }
    cdVolume_ = kDefaultCDVolume;
    try {
        schemeMark_ = std::get<std::string>(
            ReadSettingValue(HKEY_CURRENT_USER, SettingsKeyPath, settings_value::Scheme, schemeMark_));
        if (schemeMark_.size() > kMaxSchemeMark) {
            schemeMark_.resize(kMaxSchemeMark);
        }
        if (schemeMark_.empty()) {
            LoadColors(programFolder_, "", target.Colours());
            if (claimFileTypes) {
                claimFileTypes();
            }
            return;
        }
        LoadStoredValues(target);
    } catch (const std::exception&) {
        // The usual case: the wave output is open and refuses a new device or buffer shape. What
        // was applied stays; the rest keeps its present value.
    }
}

void TMainSettings::LoadStoredValues(TMainSettingsTarget& target) {
    namespace v = settings_value;
    TMMWaveOut& waveOut = target.WaveOut();
    waveOut.SetNumBuffers(ReadInteger(v::Buffers, waveOut.NumBuffers()));
    waveOut.SetBufferSize(ReadInteger(v::BufferSize, waveOut.BufferSize()));
    waveOut.SetDeviceID(ReadInteger(v::DeviceID, waveOut.DeviceID()));
    const std::int32_t mode = ReadInteger(v::CBMode, static_cast<std::int32_t>(waveOut.CallBackMode()));
    if (mode >= cmWindow && mode <= cmThread) {
        // An ordinal outside the type names no mode: the present one stays.
        waveOut.SetCallBackMode(static_cast<TMMCBMode>(mode));
    }
    storedLeft_ = LowSigned16(ReadInteger(v::Left, storedLeft_));
    storedTop_ = LowSigned16(ReadInteger(v::Top, storedTop_));
    target.SetPreVolume(ReadInteger(v::File_Volume, target.PreVolume()));
    cdVolume_ = ReadInteger(v::CD_Volume, cdVolume_);
    TColourSlots& colours = target.Colours();
    for (int i = 0; i < ColourSlotCount; ++i) {
        std::uint32_t& slot = colours[static_cast<std::size_t>(i)];
        slot = static_cast<std::uint32_t>(ReadInteger(v::Col(i + 1), static_cast<std::int32_t>(slot)));
    }
}

bool TMainSettings::SaveSettings(TMainSettingsTarget& target) {
    namespace v = settings_value;
    int left = 0;
    int top = 0;
    target.WindowPosition(left, top);
    TMMWaveOut& waveOut = target.WaveOut();
    std::vector<std::pair<std::string, SettingValue>> values = {
        {std::string(v::Left), std::int32_t{left}},
        {std::string(v::Top), std::int32_t{top}},
        {std::string(v::Buffers), std::int32_t{waveOut.NumBuffers()}},
        {std::string(v::BufferSize), std::int32_t{waveOut.BufferSize()}},
        {std::string(v::CBMode), static_cast<std::int32_t>(waveOut.CallBackMode())},
        {std::string(v::File_Volume), std::int32_t{target.PreVolume()}},
        {std::string(v::CD_Volume), std::int32_t{target.CDWheelVolume()}},
    };
    // Without a device the output's -2 names none: the stored device stays for when it is back.
    if (waveOut.DeviceID() >= -1) {
        values.emplace_back(std::string(v::DeviceID), std::int32_t{waveOut.DeviceID()});
    }
    const TColourSlots& colours = target.Colours();
    for (int i = 0; i < ColourSlotCount; ++i) {
        values.emplace_back(v::Col(i + 1), static_cast<std::int32_t>(colours[static_cast<std::size_t>(i)]));
    }
    values.emplace_back(std::string(v::Scheme), std::string("Y"));
    return WriteSettingValues(HKEY_CURRENT_USER, SettingsKeyPath, values);
}

void TMainSettings::FormClose(TMainSettingsTarget& target) {
    ReleaseWindowHandle(target.WindowHandle());
    target.StopAutoAdvance();
    target.WaveOut().Close();
    SaveSettings(target);
}

std::optional<std::string> TMainSettings::WMMypost(const platform::WindowMessage& message) {
    RegistryKey key;
    if (!key.Open(HKEY_CURRENT_USER, SettingsKeyPath, false)) {
        return std::nullopt;
    }
    std::string path;
    if (!HandedOverPath(message.payload, path) && !key.ReadString(settings_value::Param, path)) {
        path.clear();
    }
    return path;
}

bool TMainSettings::TakeFirstShow() {
    const bool first = !shown_;
    shown_ = true;
    return first;
}

void TMainSettings::PlaceMainWindow(const TWorkArea& area, int windowHeight, std::int16_t storedLeft,
                                    std::int16_t storedTop, int& left, int& top) {
    if (storedLeft == 0 || storedTop == 0) {
        left = area.left;
        top = area.bottom - windowHeight;
        return;
    }
    left = storedLeft;
    top = storedTop;
}

void ReleaseWindowHandle(platform::WindowHandle own) {
    RegistryKey key;
    std::string text;
    if (!key.Open(HKEY_CURRENT_USER, SettingsKeyPath, false) || !key.ReadString(settings_value::WH, text)) {
        return;
    }
    const platform::WindowHandle stored = platform::ParseWindowHandle(text);
    if (stored != 0 && stored == own) {
        key.WriteString(settings_value::WH, "0");
    }
}

} // namespace tunefold
