#include "engine/framework/observer.h"

#include <algorithm>

namespace tunefold {

TMMObserver::~TMMObserver() {
    if (FObservable != nullptr) {
        FObservable->Remove(this);
    }
}

void TMMObserver::Notify(void* data) {
    if (FLockCount == 0 && OnNotify) {
        OnNotify(this, data);
    }
}

TMMObservable::~TMMObservable() {
    while (!FObservers.empty()) {
        Remove(FObservers.back());
    }
}

void TMMObservable::Add(TMMObserver* observer) {
    if (observer == nullptr || observer->FObservable == this) {
        return;
    }
    if (observer->FObservable != nullptr) {
        observer->FObservable->Remove(observer);
    }
    FObservers.push_back(observer);
    observer->FObservable = this;
}

void TMMObservable::Remove(TMMObserver* observer) {
    if (observer == nullptr || observer->FObservable != this) {
        return;
    }
    FObservers.erase(std::remove(FObservers.begin(), FObservers.end(), observer), FObservers.end());
    observer->FObservable = nullptr;
}

void TMMObservable::NotifyAll(void* data) {
    if (FLockCount != 0) {
        return;
    }
    // A callback may detach observers: walk a snapshot and skip the ones gone meanwhile.
    std::vector<TMMObserver*> snapshot(FObservers.rbegin(), FObservers.rend());
    for (TMMObserver* o : snapshot) {
        if (std::find(FObservers.begin(), FObservers.end(), o) != FObservers.end()) {
            o->Notify(data);
        }
    }
}

void TMMObject::BeginUpdate() {
    if (FUpdateCount == 0) {
        Changing();
    }
    ++FUpdateCount;
}

void TMMObject::EndUpdate() {
    if (FUpdateCount == 0) {
        return;
    }
    --FUpdateCount;
    if (FUpdateCount == 0) {
        Changed();
    }
}

void TMMObject::Changing() {
    if (FUpdateCount == 0 && OnChange) {
        OnChange(this);
    }
}

void TMMObject::Changed() {
    if (FUpdateCount == 0 && FOwnerCallback) {
        FOwnerCallback(this, FOwnerData);
    }
}

} // namespace tunefold
