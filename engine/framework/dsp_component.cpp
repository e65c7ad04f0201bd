#include "engine/framework/dsp_component.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

namespace tunefold {

TMMBufferHeader* InitBufferHeader(void* block, std::uint32_t dataBytes) {
    auto* header = new (block) TMMBufferHeader{};
    header->wh.lpData = static_cast<char*>(block) + BufferHeaderBytes;
    header->wh.dwBufferLength = dataBytes;
    return header;
}

// ---- the process-wide stage list: every live stage, for the unlink broadcast ----

namespace {
std::mutex stageListLock;
std::vector<TMMDSPComponent*>* stageList = nullptr; // created on first use, freed when empty

void AddStage(TMMDSPComponent* stage) {
    std::lock_guard lock(stageListLock);
    if (stageList == nullptr) {
        stageList = new std::vector<TMMDSPComponent*>();
    }
    stageList->push_back(stage);
}

void RemoveStage(TMMDSPComponent* stage) {
    std::lock_guard lock(stageListLock);
    if (stageList == nullptr) {
        return;
    }
    stageList->erase(std::remove(stageList->begin(), stageList->end(), stage), stageList->end());
    if (stageList->empty()) {
        delete stageList;
        stageList = nullptr;
    }
}

// Unlinking may change links but never creates or destroys stages, so a snapshot is safe to walk.
void BroadcastUnlink(TMMDSPComponent* sender, bool isInput, const std::string& propName) {
    std::vector<TMMDSPComponent*> stages;
    {
        std::lock_guard lock(stageListLock);
        if (stageList != nullptr) {
            stages = *stageList;
        }
    }
    for (TMMDSPComponent* q : stages) {
        q->UnlinkNotify(sender, isInput, propName);
    }
}

constexpr std::size_t MaxPropNameLength = 20;
} // namespace

// ---- TMMDSPComponent ----

TMMDSPComponent::TMMDSPComponent(TComponent* owner) : TMMCustomDSPComponent(owner) {
    AddStage(this);
}

TMMDSPComponent::~TMMDSPComponent() {
    Destroying();
    SetInput(nullptr);
    SetOutput(nullptr);
    SetPWaveFormat(nullptr);
    RemoveStage(this);
}

bool TMMDSPComponent::PublishesProperty(std::string_view name) const {
    return (name == "Input" && PublishesInput()) || (name == "Output" && PublishesOutput());
}

TComponent* TMMDSPComponent::ComponentProperty(std::string_view name) const {
    if (name == "Input" && PublishesInput()) {
        return GetInput();
    }
    if (name == "Output" && PublishesOutput()) {
        return GetOutput();
    }
    return nullptr;
}

void TMMDSPComponent::LinkChanged() {
    if (IsLoadingReadingOrDestroying()) {
        return;
    }
    if (FInput != nullptr) {
        InputFormatChanged(FInput->PWaveFormat());
    } else if (FOutput != nullptr) {
        FOutput->InputFormatChanged(PWaveFormat());
    }
}

void TMMDSPComponent::UnlinkNotify(TMMDSPComponent* sender, bool isInput, const std::string& propName) {
    if (isInput) {
        if (sender == FInput && FInputProp == propName && sender->ComponentProperty(propName) == this) {
            SetInputLink(nullptr, "");
        }
    } else if (sender == FOutput && FOutputProp == propName && sender->ComponentProperty(propName) == this) {
        SetOutputLink(nullptr, "");
    }
}

void TMMDSPComponent::SetInput(TMMDSPComponent* value) {
    if (value == FInput || (value != nullptr && !CanConnectInput(value))) {
        return;
    }
    Stopped();
    if (FInput != nullptr) {
        BroadcastUnlink(this, false, "Input"); // the old upstream stage drops its Output
        SetInputLink(nullptr, "");
        InputFormatChanged(nullptr);
    }
    if (value != nullptr) {
        BroadcastUnlink(value, true, "Output"); // whoever had `value` as Input lets it go
        SetInputLink(value, "Output");
        value->SetOutputLink(this, "Input");
        FreeNotification(value);
        LinkChanged();
    }
}

void TMMDSPComponent::SetOutput(TMMDSPComponent* value) {
    if (value == FOutput || (value != nullptr && !CanConnectOutput(value))) {
        return;
    }
    Stopped();
    if (FOutput != nullptr) {
        BroadcastUnlink(this, true, "Output"); // the old downstream stage drops its Input
        FOutput->InputFormatChanged(nullptr);
        SetOutputLink(nullptr, "");
    }
    if (value != nullptr) {
        BroadcastUnlink(value, false, "Input"); // whoever had `value` as Output lets it go
        SetOutputLink(value, "Input");
        value->SetInputLink(this, "Output");
        FreeNotification(value);
        LinkChanged();
    }
}

void TMMDSPComponent::InputFormatChanged(const WAVEFORMATEX* format) {
    SetPWaveFormat(format);
}

void TMMDSPComponent::SetPWaveFormat(const WAVEFORMATEX* format) {
    if (format != FPWaveFormat.get()) {
        if (FStarted) {
            Stopped();
        }
        WaveFormatPtr copy = DuplicateWaveFormat(format); // copy first: `format` may belong to a neighbour
        FPWaveFormat = std::move(copy);
    }
    if (!IsLoadingReadingOrDestroying() && FOutput != nullptr) {
        FOutput->InputFormatChanged(FPWaveFormat.get());
    }
}

int TMMDSPComponent::GetBufferSize() const {
    return FOpened ? FRealBufferSize : FBufferSize;
}

void TMMDSPComponent::SetBufferSize(int value) {
    if (value == FBufferSize) {
        return;
    }
    if (FStarted) {
        Stopped();
    }
    FBufferSize = value;
}

void TMMDSPComponent::Opened() {
    if (FOpened) {
        return;
    }
    const WAVEFORMATEX* f = FPWaveFormat.get();
    if (f != nullptr && f->nBlockAlign != 0) {
        const int block = f->nBlockAlign;
        FRealBufferSize = std::max((FBufferSize / block) * block, block);
    } else {
        FRealBufferSize = FBufferSize;
    }
    FOpened = true;
}

void TMMDSPComponent::Closed() {
    FOpened = false;
}

void TMMDSPComponent::Started() {
    if (FOpened && !FStarted) {
        FStarted = true;
    }
}

void TMMDSPComponent::Paused() {}
void TMMDSPComponent::Restarted() {}

void TMMDSPComponent::Stopped() {
    FStarted = false;
}

void TMMDSPComponent::Reset() {}
void TMMDSPComponent::Looped() {}

void TMMDSPComponent::BufferReady(PWaveHdr lpWaveHdr) {
    if (OnBufferReady) {
        OnBufferReady(this, lpWaveHdr);
    }
    if (FOutput != nullptr) {
        FOutput->BufferReady(lpWaveHdr);
    }
}

void TMMDSPComponent::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
    if (OnBufferLoad) {
        OnBufferLoad(this, lpWaveHdr, MoreBuffers);
    }
    if (FInput != nullptr) {
        FInput->BufferLoad(lpWaveHdr, MoreBuffers);
    }
}

void TMMDSPComponent::SetInputLink(TMMDSPComponent* component, std::string_view propName) {
    FInput = component;
    FInputProp = std::string(propName.substr(0, MaxPropNameLength));
}

void TMMDSPComponent::SetOutputLink(TMMDSPComponent* component, std::string_view propName) {
    FOutput = component;
    FOutputProp = std::string(propName.substr(0, MaxPropNameLength));
}

bool TMMDSPComponent::CanConnectInput(TComponent* component) {
    auto* stage = dynamic_cast<TMMDSPComponent*>(component);
    if (component == this || stage == nullptr || !stage->PublishesProperty("Output")) {
        return false;
    }
    // Recursing down the chain keeps a stage from becoming the input of itself or of anything below it.
    return FOutput == nullptr || FOutput->CanConnectInput(component);
}

bool TMMDSPComponent::CanConnectOutput(TComponent* component) {
    auto* stage = dynamic_cast<TMMDSPComponent*>(component);
    if (component == this || stage == nullptr || !stage->PublishesProperty("Input")) {
        return false;
    }
    return FInput == nullptr || FInput->CanConnectOutput(component);
}

void TMMDSPComponent::Loaded() {
    TMMCustomDSPComponent::Loaded();
    // Links made while loading did not propagate; pass the held format downstream now.
    SetPWaveFormat(FPWaveFormat.get());
}

void TMMDSPComponent::Notification(TComponent* component, TOperation operation) {
    TMMCustomDSPComponent::Notification(component, operation);
    if (operation != TOperation::opRemove || component == nullptr) {
        return;
    }
    if (component == FInput) {
        SetInput(nullptr);
    } else if (component == FOutput) {
        SetOutput(nullptr);
    }
}

// ---- TMMCustomSoundComponent: one call on the device reaches its segment of the chain ----

TMMDSPComponent* TMMCustomSoundComponent::SegmentStart(bool markUpstream) {
    if (markUpstream) {
        FDeviceUpstream = false;
    }
    TMMDSPComponent* last = this;
    for (TMMDSPComponent* c = Input(); c != nullptr; c = c->Input()) {
        if (c->IsSoundComponent() && c != this) {
            // Another device feeds this one: the segment starts here.
            if (markUpstream) {
                FDeviceUpstream = true;
            }
            return this;
        }
        last = c;
    }
    return last;
}

void TMMCustomSoundComponent::Apply(TMMDSPComponent* stage, Walk op) {
    switch (op) {
    case Walk::Opened:
        stage->Opened();
        break;
    case Walk::Started:
        stage->Started();
        break;
    case Walk::Paused:
        stage->Paused();
        break;
    case Walk::Restarted:
        stage->Restarted();
        break;
    case Walk::Reset:
        stage->Reset();
        break;
    case Walk::Looped:
        stage->Looped();
        break;
    case Walk::Closed:
        stage->Closed();
        break;
    case Walk::Stopped:
        stage->Stopped();
        break;
    }
}

void TMMCustomSoundComponent::ApplyBase(Walk op) {
    switch (op) {
    case Walk::Opened:
        TMMDSPComponent::Opened();
        break;
    case Walk::Started:
        TMMDSPComponent::Started();
        break;
    case Walk::Paused:
        TMMDSPComponent::Paused();
        break;
    case Walk::Restarted:
        TMMDSPComponent::Restarted();
        break;
    case Walk::Reset:
        TMMDSPComponent::Reset();
        break;
    case Walk::Looped:
        TMMDSPComponent::Looped();
        break;
    case Walk::Closed:
        TMMDSPComponent::Closed();
        break;
    case Walk::Stopped:
        TMMDSPComponent::Stopped();
        break;
    }
}

void TMMCustomSoundComponent::WalkForward(Walk op) {
    const bool opening = op == Walk::Opened;
    for (TMMDSPComponent* c = SegmentStart(opening); c != nullptr; c = c->Output()) {
        if (c == this) {
            continue;
        }
        if (opening) {
            c->SetBufferSize(BufferSize());
        }
        Apply(c, op);
        if (c->IsSoundComponent()) {
            break; // the next device drives what lies below it
        }
    }
    ApplyBase(op);
}

void TMMCustomSoundComponent::WalkBackward(Walk op) {
    // A device downstream is told first.
    for (TMMDSPComponent* c = Output(); c != nullptr; c = c->Output()) {
        if (c->IsSoundComponent() && c != this) {
            Apply(c, op);
            break;
        }
    }
    for (TMMDSPComponent* c = SegmentStart(false); c != nullptr; c = c->Output()) {
        if (c == this) {
            continue;
        }
        if (c->IsSoundComponent()) {
            break;
        }
        Apply(c, op);
    }
    ApplyBase(op);
}

void TMMCustomSoundComponent::Opened() {
    WalkForward(Walk::Opened);
}
void TMMCustomSoundComponent::Started() {
    WalkForward(Walk::Started);
}
void TMMCustomSoundComponent::Paused() {
    WalkForward(Walk::Paused);
}
void TMMCustomSoundComponent::Restarted() {
    WalkForward(Walk::Restarted);
}
void TMMCustomSoundComponent::Reset() {
    WalkForward(Walk::Reset);
}
void TMMCustomSoundComponent::Looped() {
    WalkForward(Walk::Looped);
}
void TMMCustomSoundComponent::Closed() {
    WalkBackward(Walk::Closed);
}
void TMMCustomSoundComponent::Stopped() {
    WalkBackward(Walk::Stopped);
}

} // namespace tunefold
