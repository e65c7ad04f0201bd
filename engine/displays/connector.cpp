#include "engine/displays/connector.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "engine/displays/level.h"
#include "engine/displays/spectrum.h"
#include "engine/sources/acm_converter.h"
#include "platform/message_loop.h"
#include "platform/mm_timer.h"

namespace tunefold {

namespace {
constexpr int kSlotCount[TMMConnector::kGroupCount] = {2, 2, 2, 2, 4, 2};
} // namespace

// What all connectors of the process share: their list, the hidden window, the automatic loop's
// bookkeeping and the EnterIdle flag. Connectors live on the GUI thread; the guard covers the
// worker threads that post triggers.
struct ConnectorShared {
    std::mutex mutex;
    std::vector<TMMConnector*> list;
    std::unique_ptr<platform::MessageWindow> window;
    int automatic = 0;
    int greatestSpeed = 0;
    bool enterIdle = false;
    std::uint64_t nextSerial = 1;
    std::function<void(const std::exception&)> onException;

    static ConnectorShared& Get() {
        static ConnectorShared s;
        return s;
    }
    // Messages carry the connector's serial: one that went away meanwhile is no longer found, which
    // drops its queued messages.
    TMMConnector* Find(WPARAM serial) {
        std::lock_guard lock(mutex);
        for (TMMConnector* c : list)
            if (c->FSerial == serial)
                return c;
        return nullptr;
    }
    void RecomputeSpeed() {
        std::lock_guard lock(mutex);
        greatestSpeed = 0;
        for (TMMConnector* c : list)
            greatestSpeed = std::max(greatestSpeed, c->Speed());
    }
    void Post(UINT msg, std::uint64_t serial) {
        std::lock_guard lock(mutex);
        if (window)
            window->Post(msg, static_cast<WPARAM>(serial), 0);
    }
};

std::int64_t TMMConnector::NowMicroseconds() {
    auto& timers = platform::Timers();
    return timers.PerformanceCounter() * 1000000 / timers.PerformanceFrequency();
}

void TMMConnector::SetExceptionHandler(std::function<void(const std::exception&)> handler) {
    auto& s = ConnectorShared::Get();
    std::lock_guard lock(s.mutex);
    s.onException = std::move(handler);
}

bool TMMConnector::EnterIdle() {
    auto& s = ConnectorShared::Get();
    std::lock_guard lock(s.mutex);
    return s.enterIdle;
}

void TMMConnector::SetEnterIdle(bool v) {
    auto& s = ConnectorShared::Get();
    std::lock_guard lock(s.mutex);
    s.enterIdle = v;
}

int TMMConnector::AutomaticCount() {
    auto& s = ConnectorShared::Get();
    std::lock_guard lock(s.mutex);
    return s.automatic;
}

int TMMConnector::GreatestSpeed() {
    auto& s = ConnectorShared::Get();
    std::lock_guard lock(s.mutex);
    return s.greatestSpeed;
}

TMMConnector::TMMConnector(TComponent* owner) : TMMDSPComponent(owner) {
    auto& s = ConnectorShared::Get();
    {
        std::lock_guard lock(s.mutex);
        FSerial = s.nextSerial++;
        if (!s.window)
            s.window = std::make_unique<platform::MessageWindow>(&TMMConnector::WindowProc);
        s.list.push_back(this);
    }
    s.RecomputeSpeed();
    // Fine timer resolution for the connector's whole life; given back to the same service.
    FResolutionService = &platform::Timers();
    FResolutionService->timeBeginPeriod(1);
}

TMMConnector::~TMMConnector() {
    Destroying();
    if (FConnectorStarted)
        Stopped();
    FPauseTimer.Remove();
    std::unique_ptr<platform::MessageWindow> last;
    auto& s = ConnectorShared::Get();
    {
        std::lock_guard lock(s.mutex);
        std::erase(s.list, this);
        if (FAutomatic)
            --s.automatic;
        if (s.list.empty())
            last = std::move(s.window); // destroyed outside the guard
    }
    s.RecomputeSpeed();
    FResolutionService->timeEndPeriod(1);
}

// ---- displays ----

TMMDisplayClient* TMMConnector::Slot(Group g, int index) const {
    if (index < 0 || index >= kSlotCount[g])
        return nullptr;
    return FSlots[g][static_cast<std::size_t>(index)];
}

std::vector<TMMDisplayClient*> TMMConnector::Displays(Group g) const {
    std::vector<TMMDisplayClient*> v;
    for (int i = 0; i < kSlotCount[g]; ++i)
        if (FSlots[g][static_cast<std::size_t>(i)] != nullptr)
            v.push_back(FSlots[g][static_cast<std::size_t>(i)]);
    return v;
}

template <class F>
void TMMConnector::ForEachDisplay(F f) const {
    for (int g = 0; g < kGroupCount; ++g)
        for (TMMDisplayClient* d : Displays(static_cast<Group>(g)))
            f(d);
}

void TMMConnector::SetSlot(Group g, int index, TMMDisplayClient* v) {
    if (index < 0 || index >= kSlotCount[g])
        return;
    auto& slots = FSlots[g];
    const auto i = static_cast<std::size_t>(index);
    if (slots[i] == v)
        return;
    if (v != nullptr) {
        if (v->DisplayComponent() == this)
            return; // the connector is no display of its own
        for (int k = 0; k < kSlotCount[g]; ++k)
            if (k != index && slots[static_cast<std::size_t>(k)] == v)
                return; // one display, one slot of its group
    }
    std::lock_guard lock(FLock);
    TComponent*& component = FSlotComponents[g][i];
    if (component != nullptr)
        RemoveFreeNotification(component);
    slots[i] = v;
    component = v != nullptr ? v->DisplayComponent() : nullptr;
    FGroups[g].pending = false;
    FGroups[g].hasDisplays = !Displays(g).empty();
    if (v != nullptr) {
        if (component != nullptr)
            FreeNotification(component);
        if (FDisplayFormat)
            v->SetDisplayFormat(FDisplayFormat.get());
    }
}

// Only levels go into the level slots and spectra into the spectrum slots, so the typed copies
// follow the slots.
void TMMConnector::SetLevel(int index, TMMLevel* v) {
    SetSlot(gLevels, index, v);
    if (index >= 0 && index < 2)
        FLevel[static_cast<std::size_t>(index)] = static_cast<TMMLevel*>(Slot(gLevels, index));
}

void TMMConnector::SetSpectrum(int index, TMMSpectrum* v) {
    SetSlot(gSpectra, index, v);
    if (index >= 0 && index < 4)
        FSpectrum[static_cast<std::size_t>(index)] = static_cast<TMMSpectrum*>(Slot(gSpectra, index));
}

void TMMConnector::Notification(TComponent* component, TOperation operation) {
    TMMDSPComponent::Notification(component, operation);
    if (operation != TOperation::opRemove)
        return;
    for (int g = 0; g < kGroupCount; ++g)
        for (int i = 0; i < kSlotCount[g]; ++i) {
            if (FSlots[g][static_cast<std::size_t>(i)] != nullptr &&
                FSlotComponents[g][static_cast<std::size_t>(i)] == component) {
                std::lock_guard lock(FLock);
                FSlots[g][static_cast<std::size_t>(i)] = nullptr;
                FSlotComponents[g][static_cast<std::size_t>(i)] = nullptr;
                FGroups[g].hasDisplays = !Displays(static_cast<Group>(g)).empty();
                if (g == gLevels)
                    FLevel[static_cast<std::size_t>(i)] = nullptr;
                if (g == gSpectra)
                    FSpectrum[static_cast<std::size_t>(i)] = nullptr;
            }
        }
}

// ---- properties ----

void TMMConnector::SetEnabled(bool v) {
    if (v == FEnabled)
        return;
    FEnabled = v;
    if (v) {
        if (FConnectorStarted && FRealTime)
            PostActivate();
        return;
    }
    Deactivate();
    ForEachDisplay([](TMMDisplayClient* d) { d->ResetDisplay(); });
}

void TMMConnector::SetAutoTrigger(bool v) {
    if (v == FAutoTrigger)
        return;
    FAutoTrigger = v;
    if (v) {
        if (FConnectorStarted && FRealTime && FEnabled)
            PostActivate();
        return;
    }
    // Leaving automatic mode keeps the connector active, so that the caller's Trigger works at
    // once instead of only after the next start.
    if (FAutomatic) {
        FAutomatic = false;
        auto& s = ConnectorShared::Get();
        std::lock_guard lock(s.mutex);
        --s.automatic;
    }
}

void TMMConnector::SetSpeed(int v) {
    FSpeed = Clamp(v, 1, 5000);
    ConnectorShared::Get().RecomputeSpeed();
}

void TMMConnector::SetRealTime(bool v) {
    if (v == FRealTime)
        return;
    if (IsOpened())
        throw EMMConnectorError("Change to property while device was open");
    FRealTime = v;
}

// ---- activation ----

void TMMConnector::PostActivate() {
    ConnectorShared::Get().Post(MM_CONNECTOR_ACTIVATE, FSerial);
}

void TMMConnector::Activate() {
    FPendingTriggers = 0;
    FActive = true;
    if (!FAutoTrigger || FAutomatic)
        return;
    FAutomatic = true;
    auto& s = ConnectorShared::Get();
    bool first;
    {
        std::lock_guard lock(s.mutex);
        first = ++s.automatic == 1;
    }
    // One loop serves every automatic connector.
    if (first)
        s.Post(MM_CONNECTOR_AUTOLOOP, 0);
}

void TMMConnector::Deactivate() {
    FActive = false;
    if (!FAutomatic)
        return;
    FAutomatic = false;
    auto& s = ConnectorShared::Get();
    std::lock_guard lock(s.mutex);
    --s.automatic;
}

void TMMConnector::AutoLoop() {
    auto& s = ConnectorShared::Get();
    const int speed = GreatestSpeed();
    for (int i = 0; i < 5001 - speed; ++i)
        platform::MessageLoop::Gui().ProcessMessages();
    std::vector<TMMConnector*> list;
    {
        std::lock_guard lock(s.mutex);
        list = s.list;
    }
    for (TMMConnector* c : list)
        if (s.Find(c->FSerial) == c && c->FAutomatic && c->FEnabled && c->FActive)
            c->TriggerStep();
    if (AutomaticCount() == 0)
        return;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (EnterIdle())
        platform::MessageLoop::Gui().ProcessMessages();
    s.Post(MM_CONNECTOR_AUTOLOOP, 0);
}

LRESULT TMMConnector::WindowProc(UINT msg, WPARAM wParam, LPARAM) {
    auto& s = ConnectorShared::Get();
    try {
        switch (msg) {
        case MM_CONNECTOR_ACTIVATE:
            if (TMMConnector* c = s.Find(wParam); c != nullptr && c->FConnectorStarted)
                c->Activate();
            return 0;
        case MM_CONNECTOR_TRIGGER:
            if (TMMConnector* c = s.Find(wParam); c != nullptr) {
                c->TriggerStep();
                c->FPendingTriggers.fetch_sub(1);
            }
            return 0;
        case MM_CONNECTOR_AUTOLOOP:
            AutoLoop();
            return 0;
        default:
            return 0;
        }
    } catch (const std::exception& e) {
        std::function<void(const std::exception&)> handler;
        {
            std::lock_guard lock(s.mutex);
            handler = s.onException;
        }
        if (handler)
            handler(e);
        if (msg == MM_CONNECTOR_TRIGGER)
            if (TMMConnector* c = s.Find(wParam); c != nullptr)
                c->FPendingTriggers.fetch_sub(1);
        if (msg == MM_CONNECTOR_AUTOLOOP && AutomaticCount() > 0)
            s.Post(MM_CONNECTOR_AUTOLOOP, 0);
    }
    return 0;
}

// ---- the trigger ----

void TMMConnector::Trigger() {
    if (!FEnabled || FAutoTrigger || FPendingTriggers.load() > 0)
        return;
    if (!(FActive.load() || (FConnectorStarted && !FRealTime)))
        return;
    if (platform::MessageLoop::Gui().IsGUIThread()) {
        TriggerStep();
        return;
    }
    // Another thread never draws: at most one request goes to the GUI thread at a time.
    FPendingTriggers.fetch_add(1);
    ConnectorShared::Get().Post(MM_CONNECTOR_TRIGGER, FSerial);
}

void TMMConnector::TriggerStep() {
    if (!FEnabled)
        return;
    bool shown = false;
    {
        std::lock_guard lock(FLock);
        if (FCapture.empty() || !FDisplayFormat)
            return;
        if (!(FActive.load() || (FConnectorStarted && !FRealTime)))
            return;
        const std::int64_t elapsed = NowMicroseconds() - FCaptureTime.load();
        const std::int64_t bytesPerSecond = std::max<std::int64_t>(FDisplayFormat->nAvgBytesPerSec, 1);
        auto due = [&](int offset) {
            return !FSynchronize || elapsed >= static_cast<std::int64_t>(offset) * 1000000 / bytesPerSecond;
        };
        for (int gi = 0; gi < kGroupCount; ++gi) {
            const auto g = static_cast<Group>(gi);
            GroupState& state = FGroups[gi];
            if (!state.pending.load())
                continue;
            const std::vector<TMMDisplayClient*> displays = Displays(g);
            if (displays.empty())
                continue;
            int step = 0;
            for (TMMDisplayClient* d : displays)
                step = std::max(step, d->BytesPerUpdate());
            if (g == gSpectrograms) {
                // One offset per display: each runs through the capture on its own.
                bool anyLeft = false;
                for (int i = 0; i < kSlotCount[g]; ++i) {
                    TMMDisplayClient* d = FSlots[g][static_cast<std::size_t>(i)];
                    if (d == nullptr)
                        continue;
                    auto& off = state.offsets[static_cast<std::size_t>(i)];
                    const int own = d->BytesPerUpdate();
                    const int chunk = off.load();
                    if (chunk + own > FValid) {
                        continue;
                    }
                    anyLeft = true;
                    if (!due(chunk))
                        continue;
                    off = chunk + own;
                    d->ShowData(FCapture.data() + chunk);
                    state.counter.fetch_add(1);
                    shown = true;
                }
                if (!anyLeft)
                    state.pending = false;
                continue;
            }
            int offset = state.offset.load();
            if (g == gOscopes && FTriggerMode != tmNone && offset < FValid) {
                // An oscilloscope chunk starts at the next crossing of the trigger level.
                const std::int32_t at = FindTrigger(FDisplayFormat.get(), FCapture.data() + offset,
                                                    static_cast<std::uint32_t>(FValid - offset),
                                                    FTriggerLevel, FTriggerMode, chBoth);
                if (at > 0)
                    offset += at;
            }
            if (!due(offset))
                continue;
            const int chunk = offset;
            state.offset = offset + step;
            if (chunk + step > FValid) {
                state.pending = false;
                continue;
            }
            for (TMMDisplayClient* d : displays)
                d->ShowData(FCapture.data() + chunk);
            state.counter.fetch_add(1);
            shown = true;
        }
    }
    if (shown && OnTrigger)
        OnTrigger(this);
}

// ---- storing ----

bool TMMConnector::IsConverting() const {
    std::lock_guard lock(FLock);
    return FConverter != nullptr;
}

bool TMMConnector::HasCaptureBuffer() const {
    std::lock_guard lock(FLock);
    return !FCapture.empty();
}

int TMMConnector::ValidBytes() const {
    std::lock_guard lock(FLock);
    return FValid;
}

void TMMConnector::MakePending() {
    for (GroupState& g : FGroups) {
        if (!g.hasDisplays.load())
            continue;
        g.offset = 0;
        g.offsets[0] = 0;
        g.offsets[1] = 0;
        g.pending = true;
    }
}

void TMMConnector::StoreBuffer(const char* data, std::uint32_t count) {
    if (!FEnabled || FPaused.load() || !FDisplayFormat || data == nullptr)
        return;
    const std::int64_t now = NowMicroseconds();
    {
        std::lock_guard lock(FLock);
        if (FCapture.empty())
            return;
        if (FConverter) {
            // The stream's own bytes go through the converter; the capture holds what it yields.
            // The chunk was sized at the start to take a whole buffer in one call.
            const auto n = std::min<std::uint32_t>(
                {count, static_cast<std::uint32_t>(std::max(BufferSize(), 0)), FConverter->ChunkSize()});
            std::memcpy(FConverter->SourceBuffer(), data, n);
            const std::int32_t converted = FConverter->ConvertChunk(n);
            if (converted <= 0)
                return;
            FValid =
                static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(converted), FCapture.size()));
            std::memcpy(FCapture.data(), FConverter->Converted(), static_cast<std::size_t>(FValid));
            FConverter->DropConverted();
        } else {
            FValid = static_cast<int>(std::min<std::size_t>(count, FCapture.size()));
            std::memcpy(FCapture.data(), data, static_cast<std::size_t>(FValid));
        }
        // Stamped only once the capture holds new data: an empty conversion keeps the old pacing.
        FCaptureTime = now;
        MakePending();
    }
    if (!FRealTime && FAutoTrigger)
        TriggerStep();
}

void TMMConnector::BufferReady(PWaveHdr h) {
    if (h != nullptr) {
        const TMMBufferHeader* next = AsBufferHeader(h)->NextBuffer;
        // The buffer being played now is what the listener hears; an empty push stores itself.
        if (FSynchronize && next != nullptr && h->dwBytesRecorded > 0)
            StoreBuffer(next->wh.lpData, next->wh.dwBytesRecorded);
        else
            StoreBuffer(h->lpData, h->dwBytesRecorded);
    }
    TMMDSPComponent::BufferReady(h);
}

void TMMConnector::BufferLoad(PWaveHdr h, bool& MoreBuffers) {
    TMMDSPComponent::BufferLoad(h, MoreBuffers);
    if (h != nullptr)
        StoreBuffer(h->lpData, h->dwBytesRecorded);
}

void TMMConnector::SetPWaveFormat(const WAVEFORMATEX* format) {
    TMMDSPComponent::SetPWaveFormat(format);
    if (FConnectorStarted || PWaveFormat() == nullptr)
        return;
    if (IsValidPCMFormat(PWaveFormat())) {
        FDisplayFormat = DuplicateWaveFormat(PWaveFormat());
    } else {
        // A compressed stream is shown in the PCM format it will be converted to, so the displays
        // are set up before the first buffer; the converter itself is made at the start.
        if (!FAutoConvert)
            return;
        const WAVEFORMATEX pcm = SuggestPCMFormat(PWaveFormat());
        if (!IsValidPCMFormat(&pcm))
            return;
        FDisplayFormat = DuplicateWaveFormat(&pcm);
    }
    ForEachDisplay([this](TMMDisplayClient* d) { d->SetDisplayFormat(FDisplayFormat.get()); });
}

// ---- life cycle ----

void TMMConnector::Started() {
    TMMDSPComponent::Started();
    if (FConnectorStarted || PWaveFormat() == nullptr)
        return;
    const WAVEFORMATEX* f = PWaveFormat();
    {
        std::lock_guard lock(FLock);
        FConverter.reset();
        if (IsValidPCMFormat(f)) {
            FDisplayFormat = DuplicateWaveFormat(f);
            FSilence = f->wBitsPerSample == 8 ? 128 : 0;
            FCapture.assign(static_cast<std::size_t>(std::max(BufferSize(), 0)), FSilence);
        } else if (!FAutoConvert || !StartConverter(*f)) {
            // Without a converter the displays cannot read the stream: the connector runs without
            // a capture buffer and the displays stay still.
            FDisplayFormat.reset();
            FCapture.clear();
        }
        FValid = 0;
        for (GroupState& g : FGroups) {
            g.pending = false;
            g.offset = 0;
            g.offsets[0] = 0;
            g.offsets[1] = 0;
            g.counter = 0;
        }
    }
    FPendingTriggers = 0;
    ConnectorShared::Get().RecomputeSpeed();
    FConnectorStarted = true;
    if (FDisplayFormat)
        ForEachDisplay([this](TMMDisplayClient* d) { d->SetDisplayFormat(FDisplayFormat.get()); });
    if (FEnabled && FRealTime)
        PostActivate();
}

// With the lock held. Chooses the PCM format the compression manager suggests for the stream and
// opens the conversion into it; false (and nothing kept) when there is none.
bool TMMConnector::StartConverter(const WAVEFORMATEX& format) {
    const int size = BufferSize();
    if (size <= 0)
        return false;
    const WAVEFORMATEX pcm = SuggestPCMFormat(&format);
    if (!IsValidPCMFormat(&pcm))
        return false;
    // One stored buffer is one conversion call: the chunk is the buffer size rounded up to whole
    // blocks of the stream (the chain rounds down).
    const std::uint32_t block = std::max<std::uint32_t>(format.nBlockAlign, 1);
    const std::uint32_t chunk = (static_cast<std::uint32_t>(size) + block - 1) / block * block;
    std::unique_ptr<TMMConversionChain> chain = TMMConversionChain::Build(format, pcm, cqLow, chunk);
    if (!chain)
        return false;
    FConverter = std::move(chain);
    FDisplayFormat = DuplicateWaveFormat(&pcm);
    FSilence = pcm.wBitsPerSample == 8 ? 128 : 0;
    // Room for all a call can yield: no allocation while streaming.
    FCapture.assign(FConverter->Capacity(), FSilence);
    return true;
}

void TMMConnector::PauseTick() {
    // On the timer thread: only the capture time and the pending flags and offsets change.
    FCaptureTime = NowMicroseconds();
    MakePending();
}

void TMMConnector::Paused() {
    TMMDSPComponent::Paused();
    if (!FConnectorStarted || FPaused.load())
        return;
    FPaused = true;
    {
        std::lock_guard lock(FLock);
        std::fill(FCapture.begin(), FCapture.end(), FSilence);
    }
    if (!FRealTime)
        return;
    for (GroupState& g : FGroups)
        g.pending = false;
    const int size = BufferSize();
    const int interval = size < 8192 && FDisplayFormat ? BytesToMs(*FDisplayFormat, size) : 25;
    if (!FPauseTimer.Add(
            interval, false, [this] { PauseTick(); }, this))
        throw EOutOfResources("Not enough timers available");
}

void TMMConnector::Restarted() {
    TMMDSPComponent::Restarted();
    if (!FPaused.load())
        return;
    FPaused = false;
    if (!FRealTime)
        return;
    FPauseTimer.Remove();
    for (GroupState& g : FGroups)
        g.pending = false;
}

void TMMConnector::Reset() {
    TMMDSPComponent::Reset();
    std::lock_guard lock(FLock);
    std::fill(FCapture.begin(), FCapture.end(), FSilence);
    // After a seek the bytes the converter carried belong to the old position.
    if (FConverter)
        FConverter->Reset();
}

void TMMConnector::Stopped() {
    TMMDSPComponent::Stopped();
    if (!FConnectorStarted)
        return;
    FConnectorStarted = false;
    Deactivate();
    FPaused = false;
    FPauseTimer.Remove();
    {
        std::lock_guard lock(FLock);
        FConverter.reset();
        std::vector<std::uint8_t>().swap(FCapture);
        FValid = 0;
        for (GroupState& g : FGroups)
            g.pending = false;
    }
    if (FRefreshOnStop)
        ForEachDisplay([](TMMDisplayClient* d) { d->ResetDisplay(); });
}

} // namespace tunefold
