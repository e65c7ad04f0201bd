#include "engine/framework/component.h"

#include <algorithm>

namespace tunefold {

TComponent::TComponent(TComponent* owner) {
    if (owner != nullptr) {
        owner->InsertComponent(this);
    }
}

TComponent::~TComponent() {
    Destroying();
    // Owned components go first, newest first.
    while (!FComponents.empty()) {
        TComponent* child = FComponents.back();
        delete child; // the child's destructor removes itself from FComponents
    }
    if (FOwner != nullptr) {
        FOwner->RemoveComponent(this);
    }
}

void TComponent::Destroying() {
    FDestroying = true;
    if (FNotified) {
        return;
    }
    FNotified = true;
    // Everyone who asked is told before this component goes.
    std::vector<TComponent*> notifies;
    notifies.swap(FFreeNotifies);
    for (TComponent* other : notifies) {
        auto& back = other->FFreeNotifies;
        back.erase(std::remove(back.begin(), back.end(), this), back.end());
        other->Notification(this, TOperation::opRemove);
    }
}

void TComponent::Loaded() {
    FLoading = false;
}

void TComponent::FreeNotification(TComponent* component) {
    if (component == nullptr || component == this) {
        return;
    }
    if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), component) == FFreeNotifies.end()) {
        FFreeNotifies.push_back(component);
    }
    auto& back = component->FFreeNotifies;
    if (std::find(back.begin(), back.end(), this) == back.end()) {
        back.push_back(this);
    }
}

void TComponent::RemoveFreeNotification(TComponent* component) {
    if (component == nullptr) {
        return;
    }
    FFreeNotifies.erase(std::remove(FFreeNotifies.begin(), FFreeNotifies.end(), component),
                        FFreeNotifies.end());
    auto& back = component->FFreeNotifies;
    back.erase(std::remove(back.begin(), back.end(), this), back.end());
}

void TComponent::Notification(TComponent* component, TOperation operation) {
    // An owner passes removals on to every component it owns, as the framework does.
    if (operation == TOperation::opRemove && component != nullptr) {
        for (TComponent* child : std::vector<TComponent*>(FComponents)) {
            if (child != component) {
                child->Notification(component, operation);
            }
        }
    }
}

void TComponent::InsertComponent(TComponent* component) {
    FComponents.push_back(component);
    component->FOwner = this;
}

void TComponent::RemoveComponent(TComponent* component) {
    FComponents.erase(std::remove(FComponents.begin(), FComponents.end(), component), FComponents.end());
    component->FOwner = nullptr;
    Notification(component, TOperation::opRemove);
}

} // namespace tunefold
