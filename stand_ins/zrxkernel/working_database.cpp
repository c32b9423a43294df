#include "working_database.h"

namespace zrx::kernel {

void WorkingDatabase::Discard() {
    auto keep = std::move(onRemove);
    *this = WorkingDatabase();
    onRemove = std::move(keep);
}

bool WorkingDatabase::Create(const std::string& hierarchy, const std::string& page) {
    Discard();
    m_exists = true;
    m_currentHierarchy = Add(kHierarchyMap, hierarchy, Hierarchy{});
    m_currentPage = Add(kPageMap, page, Page{});
    return m_currentHierarchy > 0 && m_currentPage > 0;
}

Object* WorkingDatabase::Find(int32_t id) {
    const auto it = m_objects.find(id);
    return it == m_objects.end() ? nullptr : &it->second;
}

Object* WorkingDatabase::FindIn(int32_t map, int32_t id) {
    Object* obj = Find(id);
    return obj != nullptr && obj->map == map ? obj : nullptr;
}

int32_t WorkingDatabase::Add(int32_t map, std::string name, decltype(Object::body) body, std::optional<int32_t> slot) {
    if (!m_exists) return 0;
    int32_t id = 0;
    if (slot) {
        id = *slot;
        if (Object* old = Find(id)) Remove(old->map, id);
    } else {
        if (m_nextId == INT32_MAX) return 0;
        id = m_nextId++;
    }
    // Positions are handed out as positive 32-bit cursors.
    if (m_nextSeq >= static_cast<uint64_t>(INT32_MAX)) return 0;
    const uint64_t seq = m_nextSeq++;
    m_objects[id] = Object{map, seq, std::move(name), std::move(body)};
    m_maps[map][seq] = id;
    return id;
}

bool WorkingDatabase::Remove(int32_t map, int32_t id) {
    Object* obj = FindIn(map, id);
    if (obj == nullptr) return false;
    m_maps[map].erase(obj->seq);
    m_objects.erase(id);
    if (onRemove) onRemove(id);
    return true;
}

int32_t WorkingDatabase::First(int32_t map) const {
    const auto it = m_maps.find(map);
    if (it == m_maps.end() || it->second.empty()) return 0;
    return static_cast<int32_t>(it->second.begin()->first);
}

}  // namespace zrx::kernel
