// A persistent list of objects that can be stored in and rebuilt from a stream (the stored property
// "ObjectContainer"), through load/store routines registered per class.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/framework/errors.h"
#include "engine/framework/observer.h"
#include "engine/framework/stream.h"

namespace tunefold {

// The load and store routines of one class the object list can stream.
struct TRegisterRec {
    std::string ClassName;
    std::function<std::unique_ptr<TMMObject>()> Create;
    std::function<void(TMMObject& object, TStream& stream)> Load;
    std::function<void(const TMMObject& object, TStream& stream)> Store;
};

// Adds a record to the process-wide, name-sorted list; a name already registered is ignored.
void RegisterObjectClass(TRegisterRec record);
const TRegisterRec* FindObjectClass(const std::string& className);
void UnregisterObjectClass(const std::string& className);

class TObjectList : public TMMObject {
public:
    explicit TObjectList(bool ownsObjects = true) : FOwnsObjects(ownsObjects) {}
    ~TObjectList() override;
    TObjectList(const TObjectList&) = delete;
    TObjectList& operator=(const TObjectList&) = delete;

    std::string ClassName() const override { return "TObjectList"; }

    int Count() const { return static_cast<int>(FItems.size()); }
    int Capacity() const { return FCapacity; }
    bool OwnsObjects() const { return FOwnsObjects; }
    void SetOwnsObjects(bool owns) { FOwnsObjects = owns; }

    TMMObject* Items(int index) const;
    void SetItems(int index, TMMObject* object);
    int Add(TMMObject* object);
    void Insert(int index, TMMObject* object);
    void Delete(int index);
    int Remove(TMMObject* object);
    int IndexOf(const TMMObject* object) const;
    void Exchange(int index1, int index2);
    void Move(int from, int to);
    void Clear();

    // The stored form: "OBJ\0", owns-objects byte, signed 16-bit count, then per object a class name
    // (length byte + up to 63 characters) and the data its class's store routine writes.
    void SaveToStream(TStream& stream) const;
    // Replaces the contents with what the stream holds. A stream that fails to read leaves the list
    // as it was.
    void LoadFromStream(TStream& stream);
    // The property is stored only when the list is not empty.
    bool ShouldStore() const { return !FItems.empty(); }

private:
    void CheckIndex(int index, int limit) const;
    void Grow();
    void FreeItem(TMMObject* object) const;

    std::vector<TMMObject*> FItems;
    // Objects the list made itself while loading a stream that said it does not own its objects: it
    // still frees them when it goes, so loading never leaks.
    std::vector<std::unique_ptr<TMMObject>> FLoadedUnowned;
    int FCapacity = 0;
    bool FOwnsObjects;
};

} // namespace tunefold
