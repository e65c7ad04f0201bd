// Change notification: observers attached to one observable, and the persistent base TMMObject whose
// update counter folds a burst of changes into one report.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/framework/component.h"

namespace tunefold {

class TMMObservable;

class TMMObserver {
public:
    using TNotifyProc = std::function<void(TMMObserver* observer, void* data)>;
    TMMObserver() = default;
    ~TMMObserver();
    TMMObserver(const TMMObserver&) = delete;
    TMMObserver& operator=(const TMMObserver&) = delete;

    TNotifyProc OnNotify;
    void Notify(void* data);
    void Lock() { ++FLockCount; }
    void Unlock() {
        if (FLockCount > 0) {
            --FLockCount;
        }
    }
    int LockCount() const { return FLockCount; }
    TMMObservable* Observable() const { return FObservable; }

private:
    friend class TMMObservable;
    TMMObservable* FObservable = nullptr;
    int FLockCount = 0;
};

class TMMObservable {
public:
    TMMObservable() = default;
    ~TMMObservable();
    TMMObservable(const TMMObservable&) = delete;
    TMMObservable& operator=(const TMMObservable&) = delete;

    // Attaches `observer`, detaching it from any other observable first.
    void Add(TMMObserver* observer);
    // Detaches `observer` only when it is attached here.
    void Remove(TMMObserver* observer);
    // Notifies every observer, the last added first; nothing while locked.
    void NotifyAll(void* data);
    void Lock() { ++FLockCount; }
    void Unlock() {
        if (FLockCount > 0) {
            --FLockCount;
        }
    }
    int Count() const { return static_cast<int>(FObservers.size()); }

private:
    std::vector<TMMObserver*> FObservers;
    int FLockCount = 0;
};

// The persistent base: *changing* fires OnChange, *changed* calls the owner's callback; each only while
// the update counter is 0, so changes inside BeginUpdate/EndUpdate are reported once, at the end.
class TMMObject : public TObject {
public:
    using TChangedProc = std::function<void(TMMObject* sender, std::intptr_t data)>;

    TNotifyEvent OnChange;
    // The owner's callback and the data value it gets with every *changed*.
    void SetOwnerCallback(TChangedProc callback, std::intptr_t data = 0) {
        FOwnerCallback = std::move(callback);
        FOwnerData = data;
    }

    void BeginUpdate();
    void EndUpdate();
    int UpdateCount() const { return FUpdateCount; }
    // The name the object list streams this object's class under.
    virtual std::string ClassName() const { return "TMMObject"; }

protected:
    virtual void Changing();
    virtual void Changed();

private:
    int FUpdateCount = 0;
    TChangedProc FOwnerCallback;
    std::intptr_t FOwnerData = 0;
};

} // namespace tunefold
