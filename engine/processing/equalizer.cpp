#include "engine/processing/equalizer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/framework/threads.h"

namespace tunefold {

namespace {

constexpr char kFilterClass[] = "TMMEQFilter";
constexpr char kMagic[4] = {'E', 'Q', 'U', '\0'};
constexpr std::size_t kMaxClassName = 63;
// Posted to the equalizer's own window when late work found an overflow.
constexpr UINT kLateOverflow = platform::WM_USER + 1;

void LoadFilter(TMMObject& object, TStream& stream) {
    auto& f = static_cast<TMMEQFilter&>(object);
    const bool enabled = stream.ReadValue<std::uint8_t>() != 0;
    const float f1 = stream.ReadValue<float>();
    const float f2 = stream.ReadValue<float>();
    const float gain = stream.ReadValue<float>();
    f.SetValues(f1, f2, gain);
    f.SetEnabled(enabled);
}

void StoreFilter(const TMMObject& object, TStream& stream) {
    const auto& f = static_cast<const TMMEQFilter&>(object);
    stream.WriteValue<std::uint8_t>(f.Enabled() ? 1 : 0);
    stream.WriteValue<float>(f.F1());
    stream.WriteValue<float>(f.F2());
    stream.WriteValue<float>(f.Gain());
}

// The band's load and store routines, registered once for the object list.
void RegisterFilterClass() {
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterObjectClass(TRegisterRec{kFilterClass, [] { return std::make_unique<TMMEQFilter>(); },
                                         LoadFilter, StoreFilter});
    });
}

std::string ClassNotRegistered(const std::string& name) {
    char text[128];
    std::snprintf(text, sizeof text, "Class <%s> not registered", name.c_str());
    return text;
}

int RoundFFTLength(int value) {
    value = std::clamp(value, 8, 4096);
    int p = 8;
    while (p * 2 <= value) {
        p *= 2;
    }
    return p;
}

} // namespace

// ---- TMMEQFilter ----

void TMMEQFilter::ReportChange() {
    if (FOnBandChange) {
        FOnBandChange(this);
    }
}

void TMMEQFilter::SetEnabled(bool value) {
    if (value != FEnabled) {
        FEnabled = value;
        ReportChange();
    }
}

void TMMEQFilter::SetValues(float f1, float f2, float gain) {
    if (f1 == FF1 && f2 == FF2 && gain == FGain) {
        return;
    }
    FF1 = f1;
    FF2 = f2;
    FGain = gain;
    ReportChange();
}

void TMMEQFilter::SetValue(int index, float value) {
    switch (index) {
    case 0:
        SetValues(value, FF2, FGain);
        break;
    case 1:
        SetValues(FF1, value, FGain);
        break;
    case 2:
        SetValues(FF1, FF2, value);
        break;
    default:
        break;
    }
}

float TMMEQFilter::GetValue(int index) const {
    switch (index) {
    case 0:
        return FF1;
    case 1:
        return FF2;
    case 2:
        return FGain;
    default:
        return 0;
    }
}

void TMMEQFilter::Assign(const TMMEQFilter& source) {
    if (source.FF1 == FF1 && source.FF2 == FF2 && source.FGain == FGain && source.FEnabled == FEnabled) {
        return;
    }
    FF1 = source.FF1;
    FF2 = source.FF2;
    FGain = source.FGain;
    FEnabled = source.FEnabled;
    ReportChange();
}

// ---- TMMEQFilterList ----

TMMEQFilterList::TMMEQFilterList(TMMEqualizer* owner) : TObjectList(true), FOwner(owner) {
    RegisterFilterClass();
    if (owner != nullptr) {
        SetOwnerCallback([owner](TMMObject*, std::intptr_t) { owner->ListChanged(); });
    }
}

TMMEQFilterList::~TMMEQFilterList() {
    // Nothing reaches the owner from here on: it is going away with this list.
    SetOwnerCallback(nullptr);
    for (int i = 0; i < Count(); ++i) {
        Items(i)->SetChangeCallback(nullptr);
    }
}

TMMEQFilter* TMMEQFilterList::Items(int index) const {
    return static_cast<TMMEQFilter*>(TObjectList::Items(index));
}

void TMMEQFilterList::Adopt(TMMEQFilter* filter) {
    if (filter != nullptr && FOwner != nullptr) {
        TMMEqualizer* owner = FOwner;
        filter->SetChangeCallback([owner](TMMEQFilter* f) { owner->BandChanged(f); });
    }
}

int TMMEQFilterList::Add(TMMEQFilter* filter) {
    Adopt(filter);
    const int index = TObjectList::Add(filter);
    Changed();
    return index;
}

int TMMEQFilterList::AddFilter(float f1, float f2, float gain) {
    auto filter = std::make_unique<TMMEQFilter>(f1, f2, gain);
    const int index = Add(filter.get());
    filter.release();
    return index;
}

void TMMEQFilterList::Delete(int index) {
    TObjectList::Delete(index);
    Changed();
}

void TMMEQFilterList::Clear() {
    TObjectList::Clear();
    Changed();
}

void TMMEQFilterList::Assign(const TMMEQFilterList& source) {
    if (&source == this) {
        return;
    }
    std::vector<std::unique_ptr<TMMEQFilter>> copies;
    for (int i = 0; i < source.Count(); ++i) {
        auto f = std::make_unique<TMMEQFilter>();
        f->Assign(*source.Items(i));
        copies.push_back(std::move(f));
    }
    FAssigning = true;
    TObjectList::Clear();
    for (auto& f : copies) {
        Adopt(f.get());
        TObjectList::Add(f.release());
    }
    FAssigning = false;
    Changed();
}

void TMMEQFilterList::Changed() {
    if (FAssigning || FReading) {
        return;
    }
    TObjectList::Changed();
}

void TMMEQFilterList::SaveToStream(TStream& stream) const {
    const std::string description = FOwner != nullptr ? FOwner->Description() : std::string("Untitled");
    const std::int32_t length = FOwner != nullptr ? FOwner->FFTLength() : 256;
    stream.WriteBuffer(kMagic, sizeof kMagic);
    stream.WriteValue<std::uint8_t>(OwnsObjects() ? 1 : 0);
    stream.WriteValue<std::int32_t>(static_cast<std::int32_t>(description.size()));
    stream.WriteBuffer(description.data(), description.size());
    stream.WriteValue<std::int32_t>(length);
    stream.WriteValue<std::int16_t>(static_cast<std::int16_t>(Count()));
    for (int i = 0; i < Count(); ++i) {
        const TMMEQFilter* f = Items(i);
        const std::string name = f->ClassName().substr(0, kMaxClassName);
        const TRegisterRec* record = FindObjectClass(f->ClassName());
        if (record == nullptr || !record->Store) {
            throw EClassNotFound("Source Class <" + f->ClassName() + "> not registered");
        }
        stream.WriteValue<std::uint8_t>(static_cast<std::uint8_t>(name.size()));
        stream.WriteBuffer(name.data(), name.size());
        record->Store(*f, stream);
    }
}

void TMMEQFilterList::LoadFromStream(TStream& stream) {
    char magic[4] = {};
    if (stream.Read(magic, sizeof magic) != sizeof magic || std::memcmp(magic, kMagic, sizeof magic) != 0) {
        throw EStreamError("Invalid Object stream");
    }
    stream.ReadValue<std::uint8_t>(); // the list flag: the bands are always owned
    const std::int32_t length = stream.ReadValue<std::int32_t>();
    // A length beyond what the stream holds is damage, not a reason to allocate.
    if (length < 0 ||
        static_cast<std::size_t>(length) > stream.Size() - std::min(stream.Size(), stream.Position())) {
        throw EStreamError("Invalid Object stream");
    }
    std::string description(static_cast<std::size_t>(length), '\0');
    stream.ReadBuffer(description.data(), description.size());
    const std::int32_t fftLength = stream.ReadValue<std::int32_t>();
    const int count = stream.ReadValue<std::int16_t>();
    if (count < 0) {
        throw EStreamError("Invalid Object stream");
    }
    std::vector<std::unique_ptr<TMMEQFilter>> loaded;
    for (int i = 0; i < count; ++i) {
        const std::size_t nameLength = stream.ReadValue<std::uint8_t>();
        if (nameLength > kMaxClassName) {
            throw EStreamError("Invalid Object stream");
        }
        std::string name(nameLength, '\0');
        stream.ReadBuffer(name.data(), nameLength);
        const TRegisterRec* record = FindObjectClass(name);
        if (record == nullptr || !record->Create || !record->Load) {
            throw EClassNotFound(ClassNotRegistered(name));
        }
        std::unique_ptr<TMMObject> object = record->Create();
        auto* filter = dynamic_cast<TMMEQFilter*>(object.get());
        if (filter == nullptr) {
            throw EClassNotFound(ClassNotRegistered(name)); // not a band
        }
        record->Load(*object, stream);
        object.release();
        loaded.emplace_back(filter);
    }
    FReading = true;
    TObjectList::Clear();
    for (auto& f : loaded) {
        Adopt(f.get());
        TObjectList::Add(f.release());
    }
    if (FOwner != nullptr) {
        FOwner->SetDescription(description);
        FOwner->SetFFTLength(fftLength);
    }
    FReading = false;
    Changed();
}

// ---- TMMEqualizer ----

TMMEqualizer::TMMEqualizer(TComponent* owner) : TMMDSPComponent(owner), FFilters(this) {}

TMMEqualizer::~TMMEqualizer() {
    Destroying();
    FLateNotice.reset();
    SetSpectrum(nullptr);
    FReady = false;
    FreeEngine();
}

void TMMEqualizer::SetEnabled(bool value) {
    if (value == FEnabled) {
        return;
    }
    FEnabled = value;
    // The chain may be filtering on another thread right now.
    std::lock_guard lock(FEngineLock);
    ResetEQ(FEngine);
}

void TMMEqualizer::SetSampleRate(int value) {
    value = std::clamp(value, 4000, 100000);
    if (value == FSampleRate) {
        return;
    }
    FSampleRate = value;
    RebuildResponseEngine();
}

void TMMEqualizer::RebuildResponseEngine() {
    // The response display follows the rate and the length: its engine and format are made anew.
    if (TMMEQResponseView* view = FSpectrum; view != nullptr) {
        SetSpectrum(nullptr);
        SetSpectrum(view);
    }
}

void TMMEqualizer::SetFFTLength(int value) {
    value = RoundFFTLength(value);
    if (value == FFFTLength) {
        return;
    }
    FFFTLength = value;
    RebuildResponseEngine();
    if (FReady) {
        FreeEngine();
        CreateEngine();
        SetEQWindow(FEngine, FWindow);
        ApplyAllBands(FEngine, FSampleRate);
    }
}

void TMMEqualizer::SetWindow(TMMFFTWindow value) {
    if (value == FWindow) {
        return;
    }
    FWindow = value;
    if (FReady) {
        SetEQWindow(FEngine, FWindow);
    }
}

void TMMEqualizer::Assign(const TMMEqualizer& source) {
    if (&source == this) {
        return;
    }
    SetChannel(source.Channel());
    SetEnabled(source.Enabled());
    SetDescription(source.Description());
    SetFFTLength(source.FFTLength());
    SetWindow(source.Window());
    SetFilters(source.Filters());
    SetSampleRate(source.SampleRate());
}

void TMMEqualizer::CreateEngine() {
    WAVEFORMATEX* format = PWaveFormat();
    const std::size_t capacity = static_cast<std::size_t>(std::max(65536, BufferSize()));
    TMMEQEngine* engine = InitEQ(format, FFFTLength, capacity);
    if (engine == nullptr) {
        FReady = false;
        throw EOutOfMemory("Out of memory");
    }
    std::lock_guard lock(FEngineLock);
    FEngine = engine;
}

void TMMEqualizer::FreeEngine() {
    TMMEQEngine* engine = nullptr;
    {
        std::lock_guard lock(FEngineLock);
        std::swap(engine, FEngine);
    }
    DoneEQ(engine);
}

void TMMEqualizer::ApplyAllBands(TMMEQEngine* engine, int rate) {
    if (engine == nullptr) {
        return;
    }
    SetEQBand(engine, 0.0f, static_cast<float>(rate) / 2, 0.0f);
    for (int i = 0; i < FFilters.Count(); ++i) {
        const TMMEQFilter* f = FFilters.Items(i);
        if (f->Enabled()) {
            SetEQBand(engine, f->F1(), f->F2(), f->Gain());
        }
    }
}

void TMMEqualizer::ListChanged() {
    if (FReady) {
        ApplyAllBands(FEngine, FSampleRate);
    }
    NotifyChange();
}

void TMMEqualizer::BandChanged(TMMEQFilter* filter) {
    // Only this band's bins are rewritten: a band that shrinks keeps its old bins at their last
    // gain until the bands are applied as a whole again.
    if (FReady) {
        SetEQBand(FEngine, filter->F1(), filter->F2(), filter->Enabled() ? filter->Gain() : 0.0f);
    }
    NotifyChange();
}

void TMMEqualizer::NotifyChange() {
    if (FSpectrum != nullptr) {
        RefreshResponse();
    }
    if (OnChange) {
        OnChange(this);
    }
}

void TMMEqualizer::SetSpectrum(TMMEQResponseView* value) {
    if (value == FSpectrum) {
        return;
    }
    if (FSpectrum != nullptr) {
        FSpectrum->SetResponseCallback(nullptr);
        RemoveFreeNotification(dynamic_cast<TComponent*>(FSpectrum));
        FSpectrum = nullptr;
        DoneEQ(FResponseEngine);
    }
    if (value == nullptr) {
        return;
    }
    WAVEFORMATEX format{};
    MakePCMFormat(format, 16, 1, static_cast<DWORD>(FSampleRate));
    FResponseEngine = InitEQ(&format, FFFTLength, 8192);
    if (FResponseEngine == nullptr) {
        throw EOutOfMemory("Out of memory");
    }
    FSpectrum = value;
    FreeNotification(dynamic_cast<TComponent*>(value));
    value->SetResponseFormat(&format);
    value->SetResponseWindow(fwRectangular);
    value->SetResponseCallback([this] { RefreshResponse(); });
}

void TMMEqualizer::RefreshResponse() {
    if (FSpectrum == nullptr || FResponseEngine == nullptr) {
        return;
    }
    TMMEQEngine* e = FResponseEngine;
    if (e->WindowKind != FWindow) {
        SetEQWindow(e, FWindow);
    }
    ResetEQ(e);
    ApplyAllBands(e, e->Rate);
    // One impulse through the left channel; the buffer is far longer than two transforms.
    std::vector<std::int16_t> impulse(8193, 0);
    impulse[0] = 21500;
    ProcessEQ(e, chLeft, impulse.data(), static_cast<std::uint32_t>(impulse.size() * 2));
    FSpectrum->ShowResponse(impulse.data(), static_cast<int>(impulse.size()));
}

void TMMEqualizer::Notification(TComponent* component, TOperation operation) {
    TMMDSPComponent::Notification(component, operation);
    if (operation == TOperation::opRemove && FSpectrum != nullptr && component != nullptr &&
        dynamic_cast<TComponent*>(FSpectrum) == component) {
        // The analyzer is going away: nothing of it may be called any more.
        FSpectrum = nullptr;
        DoneEQ(FResponseEngine);
    }
}

void TMMEqualizer::SetPWaveFormat(const WAVEFORMATEX* format) {
    if (format != nullptr && !IsDesigning()) {
        if (!IsValidPCMFormat(format) || format->wBitsPerSample == 8) {
            throw EMMEqualizerError("Invalid WaveFormat");
        }
        SetSampleRate(static_cast<int>(format->nSamplesPerSec));
    }
    TMMDSPComponent::SetPWaveFormat(format);
}

void TMMEqualizer::Opened() {
    if (FLateNotice == nullptr) {
        FLateNotice = std::make_unique<platform::MessageWindow>([this](UINT, WPARAM, LPARAM) {
            FLateOverflowPosted.store(false);
            if (OnPcmOverflow) {
                OnPcmOverflow(this);
            }
            return LRESULT{0};
        });
    }
    if (FEngine == nullptr && IsValidPCMFormat(PWaveFormat())) {
        CreateEngine();
        SetEQWindow(FEngine, FWindow);
        FReady = true;
        ApplyAllBands(FEngine, FSampleRate);
    }
    TMMDSPComponent::Opened();
}

void TMMEqualizer::Closed() {
    FReady = false;
    FreeEngine();
    TMMDSPComponent::Closed();
}

void TMMEqualizer::Started() {
    if (FReady) {
        ApplyAllBands(FEngine, FSampleRate);
    }
    ResetEQ(FEngine);
    TMMDSPComponent::Started();
}

void TMMEqualizer::Reset() {
    {
        std::lock_guard lock(FEngineLock);
        ResetEQ(FEngine);
    }
    TMMDSPComponent::Reset();
}

bool TMMEqualizer::Filter(char* data, DWORD bytes, bool endOfStream) {
    if (data == nullptr) {
        return false;
    }
    std::lock_guard lock(FEngineLock);
    return FReady && FEngine != nullptr && FEnabled && ProcessEQ(FEngine, FChannel, data, bytes, endOfStream);
}

void TMMEqualizer::TellOverflow() {
    // Outside the engine's lock: the GUI thread may be waiting for it while this thread waits for
    // the GUI.
    if (OnPcmOverflow) {
        RunInGUIThread(OnPcmOverflow, this);
    }
}

void TMMEqualizer::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
    TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    // The input's last buffer also takes out what still waits for a whole block.
    if (lpWaveHdr != nullptr && !WorkingLate() &&
        Filter(lpWaveHdr->lpData, lpWaveHdr->dwBytesRecorded, !MoreBuffers)) {
        TellOverflow();
    }
}

void TMMEqualizer::BufferReady(PWaveHdr lpWaveHdr) {
    if (lpWaveHdr != nullptr && Filter(lpWaveHdr->lpData, lpWaveHdr->dwBytesRecorded, false)) {
        TellOverflow();
    }
    TMMDSPComponent::BufferReady(lpWaveHdr);
}

void TMMEqualizer::ProcessLate(char* data, DWORD bytes, bool last) {
    // This runs where the sound card is fed, which must not wait for the GUI thread.
    if (Filter(data, bytes, last) && FLateNotice != nullptr && !FLateOverflowPosted.exchange(true)) {
        if (!FLateNotice->Post(kLateOverflow)) {
            FLateOverflowPosted.store(false);
        }
    }
}

} // namespace tunefold
