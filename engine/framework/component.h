// The component base: owner and owned components, name, tag, removal notification and the
// loading / reading / destroying states. There is no design time: IsDesigning() is always false.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tunefold {

class TObject {
public:
    virtual ~TObject() = default;
};

using TNotifyEvent = std::function<void(TObject* sender)>;

enum class TOperation { opInsert, opRemove };

class TComponent : public TObject {
public:
    explicit TComponent(TComponent* owner = nullptr);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return FOwner; }
    const std::string& Name() const { return FName; }
    void SetName(std::string name) { FName = std::move(name); }
    std::intptr_t Tag() const { return FTag; }
    void SetTag(std::intptr_t tag) { FTag = tag; }

    int ComponentCount() const { return static_cast<int>(FComponents.size()); }
    TComponent* Components(int index) const { return FComponents.at(static_cast<std::size_t>(index)); }

    bool IsLoading() const { return FLoading; }
    bool IsReading() const { return FReading; }
    bool IsDestroying() const { return FDestroying; }
    bool IsDesigning() const { return false; }
    // Loading, reading or being destroyed: the states in which links do not propagate.
    bool IsLoadingReadingOrDestroying() const { return FLoading || FReading || FDestroying; }

    // "As loaded from a form": set the stored properties between BeginLoading and Loaded.
    void BeginLoading() { FLoading = true; }
    void SetReading(bool reading) { FReading = reading; }
    virtual void Loaded();

    // Ask to be told (Notification with opRemove) when `component` goes away.
    void FreeNotification(TComponent* component);
    void RemoveFreeNotification(TComponent* component);

    // Stand-ins for the run-time type information of published component properties.
    virtual bool PublishesProperty(std::string_view /*name*/) const { return false; }
    virtual TComponent* ComponentProperty(std::string_view /*name*/) const { return nullptr; }

protected:
    // Told of components inserted into or removed from the owner and of free notifications.
    virtual void Notification(TComponent* component, TOperation operation);
    // Marks the component as being destroyed and tells the others; derived destructors that must
    // act before their members go call this first. Called again by ~TComponent, it does nothing.
    void Destroying();

private:
    void InsertComponent(TComponent* component);
    void RemoveComponent(TComponent* component);

    TComponent* FOwner = nullptr;
    std::string FName;
    std::intptr_t FTag = 0;
    std::vector<TComponent*> FComponents;
    std::vector<TComponent*> FFreeNotifies;
    bool FLoading = false;
    bool FReading = false;
    bool FDestroying = false;
    bool FNotified = false;
};

} // namespace tunefold
