#include "engine/framework/object_list.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>

namespace tunefold {

namespace {
constexpr char kMagic[4] = {'O', 'B', 'J', '\0'};
constexpr std::size_t kMaxClassName = 63;
constexpr int kMaxCount = 32767; // indexes and the count are 16-bit signed

std::mutex registryLock;
std::map<std::string, TRegisterRec>& Registry() {
    static std::map<std::string, TRegisterRec> records; // sorted by name
    return records;
}

std::string Printf(const char* format, const std::string& arg) {
    char text[160];
    std::snprintf(text, sizeof text, format, arg.c_str());
    return text;
}
std::string Printf(const char* format, int arg) {
    char text[64];
    std::snprintf(text, sizeof text, format, arg);
    return text;
}
} // namespace

void RegisterObjectClass(TRegisterRec record) {
    std::lock_guard lock(registryLock);
    std::string name = record.ClassName;
    Registry().emplace(std::move(name), std::move(record));
}

const TRegisterRec* FindObjectClass(const std::string& className) {
    std::lock_guard lock(registryLock);
    auto it = Registry().find(className);
    return it == Registry().end() ? nullptr : &it->second;
}

void UnregisterObjectClass(const std::string& className) {
    std::lock_guard lock(registryLock);
    Registry().erase(className);
}

TObjectList::~TObjectList() {
    Clear();
}

void TObjectList::CheckIndex(int index, int limit) const {
    if (index < 0 || index > limit) {
        throw EListError(Printf("List index out of bounds (%d)", index));
    }
}

void TObjectList::Grow() {
    int delta = FCapacity > 8 ? 16 : (FCapacity > 4 ? 8 : 4);
    int next = std::min(FCapacity + delta, kMaxCount);
    if (next <= FCapacity) {
        throw EListError(Printf("List capacity out of bounds (%d)", FCapacity + delta));
    }
    FCapacity = next;
    FItems.reserve(static_cast<std::size_t>(FCapacity));
}

void TObjectList::FreeItem(TMMObject* object) const {
    if (FOwnsObjects) {
        delete object;
    }
}

TMMObject* TObjectList::Items(int index) const {
    CheckIndex(index, Count() - 1);
    return FItems[static_cast<std::size_t>(index)];
}

void TObjectList::SetItems(int index, TMMObject* object) {
    CheckIndex(index, Count() - 1);
    TMMObject*& slot = FItems[static_cast<std::size_t>(index)];
    if (slot != object) {
        FreeItem(slot);
        slot = object;
    }
}

int TObjectList::Add(TMMObject* object) {
    Insert(Count(), object);
    return Count() - 1;
}

void TObjectList::Insert(int index, TMMObject* object) {
    CheckIndex(index, Count());
    if (Count() == FCapacity) {
        Grow();
    }
    FItems.insert(FItems.begin() + index, object);
}

void TObjectList::Delete(int index) {
    CheckIndex(index, Count() - 1);
    TMMObject* object = FItems[static_cast<std::size_t>(index)];
    FItems.erase(FItems.begin() + index);
    FreeItem(object);
}

int TObjectList::Remove(TMMObject* object) {
    int index = IndexOf(object);
    if (index >= 0) {
        Delete(index);
    }
    return index;
}

int TObjectList::IndexOf(const TMMObject* object) const {
    auto it = std::find(FItems.begin(), FItems.end(), object);
    return it == FItems.end() ? -1 : static_cast<int>(it - FItems.begin());
}

void TObjectList::Exchange(int index1, int index2) {
    CheckIndex(index1, Count() - 1);
    CheckIndex(index2, Count() - 1);
    std::swap(FItems[static_cast<std::size_t>(index1)], FItems[static_cast<std::size_t>(index2)]);
}

void TObjectList::Move(int from, int to) {
    if (from == to) {
        return;
    }
    CheckIndex(from, Count() - 1);
    CheckIndex(to, Count() - 1);
    TMMObject* object = FItems[static_cast<std::size_t>(from)];
    FItems.erase(FItems.begin() + from);
    FItems.insert(FItems.begin() + to, object);
}

void TObjectList::Clear() {
    std::vector<TMMObject*> items;
    items.swap(FItems);
    for (TMMObject* object : items) {
        FreeItem(object);
    }
    FCapacity = 0;
}

void TObjectList::SaveToStream(TStream& stream) const {
    stream.WriteBuffer(kMagic, sizeof kMagic);
    stream.WriteValue<std::uint8_t>(FOwnsObjects ? 1 : 0);
    stream.WriteValue<std::int16_t>(static_cast<std::int16_t>(Count()));
    for (const TMMObject* object : FItems) {
        if (object == nullptr) {
            throw EClassNotFound("Nil Source Class!");
        }
        const std::string name = object->ClassName();
        const TRegisterRec* record = FindObjectClass(name);
        if (record == nullptr || !record->Store) {
            throw EClassNotFound(Printf("Source Class <%s> not registered", name));
        }
        std::string stored = name.substr(0, kMaxClassName);
        stream.WriteValue<std::uint8_t>(static_cast<std::uint8_t>(stored.size()));
        stream.WriteBuffer(stored.data(), stored.size());
        record->Store(*object, stream);
    }
}

void TObjectList::LoadFromStream(TStream& stream) {
    char magic[4] = {};
    if (stream.Read(magic, sizeof magic) != sizeof magic || std::memcmp(magic, kMagic, sizeof magic) != 0) {
        throw EStreamError("Invalid Object stream");
    }
    const bool owns = stream.ReadValue<std::uint8_t>() != 0;
    const int count = stream.ReadValue<std::int16_t>();
    if (count < 0) {
        throw EStreamError("Invalid Object stream");
    }
    // Built aside and swapped in at the end, so a damaged stream cannot cost the objects held now.
    std::vector<std::unique_ptr<TMMObject>> loaded;
    for (int i = 0; i < count; ++i) {
        const std::size_t length = stream.ReadValue<std::uint8_t>();
        if (length > kMaxClassName) {
            throw EStreamError("Invalid Object stream");
        }
        std::string name(length, '\0');
        stream.ReadBuffer(name.data(), length);
        const TRegisterRec* record = FindObjectClass(name);
        if (record == nullptr || !record->Create || !record->Load) {
            throw EClassNotFound(Printf("Class <%s> not registered", name));
        }
        std::unique_ptr<TMMObject> object = record->Create();
        record->Load(*object, stream);
        loaded.push_back(std::move(object));
    }
    Clear();
    FOwnsObjects = owns;
    for (auto& object : loaded) {
        Add(object.get());
        if (owns) {
            object.release();
        } else {
            FLoadedUnowned.push_back(std::move(object));
        }
    }
}

} // namespace tunefold
