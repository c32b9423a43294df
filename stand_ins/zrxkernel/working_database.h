#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>

#include "elements.h"

namespace zrx::kernel {

enum MapId : int32_t {
    kHierarchyMap = 1,
    kPageMap = 2,
    kFileMap = 3,
    kSymbolMap = 4,
    kDeviceMap = 5,
    kSchematicComponentMap = 6,
    kLayoutComponentMap = 7,
};

struct Hierarchy {};
struct Page {};
struct FileObject {};
struct Component {
    int32_t hierarchy = 0;
    int32_t device = 0;
    int32_t symbol = 0;
};

// One object of the working database: its map, its name and what it holds.
struct Object {
    int32_t map = 0;
    uint64_t seq = 0;  // creation order within the database; maps list objects in this order
    std::string name;
    std::variant<Hierarchy, Page, FileObject, Device, Symbol, Component> body;
};

// The in-memory design database: objects by number, and each map's objects in creation order.
class WorkingDatabase {
public:
    bool Exists() const { return m_exists; }
    void Discard();
    bool Create(const std::string& hierarchy, const std::string& page);

    Object* Find(int32_t id);
    Object* FindIn(int32_t map, int32_t id);
    // Adds an object under a new positive number, or under a slot number (replacing the slot).
    int32_t Add(int32_t map, std::string name, decltype(Object::body) body, std::optional<int32_t> slot = {});
    bool Remove(int32_t map, int32_t id);

    // The cursor of a map's first object; cursors are creation positions, 0 is the end.
    int32_t First(int32_t map) const;
    // The next object at or after the cursor that `match` accepts; the cursor moves past it.
    template <typename Match>
    int32_t Next(int32_t map, int32_t* cursor, Match match) const;

    // Called with the number of every object that leaves the database.
    std::function<void(int32_t)> onRemove;

    int32_t CurrentHierarchy() const { return m_currentHierarchy; }
    void SetCurrentHierarchy(int32_t id) { m_currentHierarchy = id; }
    void SetCurrentPage(int32_t id) { m_currentPage = id; }

private:
    bool m_exists = false;
    int32_t m_nextId = 1;
    uint64_t m_nextSeq = 1;
    int32_t m_currentHierarchy = 0;
    int32_t m_currentPage = 0;
    std::unordered_map<int32_t, Object> m_objects;
    std::map<int32_t, std::map<uint64_t, int32_t>> m_maps;  // map -> seq -> object number
};

template <typename Match>
int32_t WorkingDatabase::Next(int32_t map, int32_t* cursor, Match match) const {
    if (cursor == nullptr || *cursor <= 0) return 0;
    const auto mapIt = m_maps.find(map);
    if (mapIt == m_maps.end()) {
        *cursor = 0;
        return 0;
    }
    for (auto it = mapIt->second.lower_bound(static_cast<uint64_t>(*cursor)); it != mapIt->second.end(); ++it) {
        const auto obj = m_objects.find(it->second);
        if (obj != m_objects.end() && match(it->second, obj->second)) {
            const auto next = std::next(it);
            *cursor = next == mapIt->second.end() ? 0 : static_cast<int32_t>(next->first);
            return it->second;
        }
    }
    *cursor = 0;
    return 0;
}

}  // namespace zrx::kernel
