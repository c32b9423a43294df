#include "history/installed_base.h"

#include "history/base_store.h"
#include "history/record_folder.h"
#include "kernel/installation.h"

namespace zrx::history {

namespace {

std::string KeyOf(int root, const std::string& relative, const std::string& element) {
    return std::to_string(root) + '\x1f' + relative + '\x1f' + element;
}

}  // namespace

Result<InstalledBases> InstalledBases::Read(const Environment& env) {
    InstalledBases bases;
    bases.m_env = &env;
    const auto folder = OpenRecordFolder(env, false);
    struct stat info {};
    if (!folder || !folder->history.Look("history.db", info)) return bases;  // no record: no base
    RecordFolder opened;
    auto record = OpenRecord(env, RecordDatabase::Mode::ReadOnly, opened);
    if (!record) return Failure{record.Why()};
    // Oldest first: a later run's save at the same place takes the earlier one's place.
    RecordDatabase::Statement query(**record, BasesQuery(**record).c_str());
    while (query.Next())
        bases.m_digests[KeyOf(static_cast<int>(query.Int(0)), query.Text(1), query.Text(2))] = query.Text(3);
    if (query.Failed()) return Failure{"the record of update runs cannot be read: " + (*record)->Error()};
    // What the runs installed is read from their store where it is kept; a store that cannot be
    // used keeps nothing (its digests still tell edits).
    if (auto store = BaseStore::Open(opened, BaseStore::Use::Read))
        bases.m_store = std::move(*store);
    else
        bases.m_storeProblem = store.Why();
    return bases;
}

const std::string* InstalledBases::Of(const std::string& path, const std::string& element) const {
    if (m_digests.empty() || m_env == nullptr) return nullptr;
    if (m_lastPath.empty() || path != m_lastPath) {
        const auto place = PlaceOf(*m_env, path);
        if (!place) return nullptr;
        m_lastPath = path;
        m_lastPrefix = KeyOf(place->root, place->relative, {});
    }
    m_key.assign(m_lastPrefix).append(element);
    const auto it = m_digests.find(m_key);
    return it == m_digests.end() ? nullptr : &it->second;
}

int32_t InstalledBases::Element(bool part, const std::string& digest) {
    return m_store.Element(part, digest);
}

std::optional<std::string> InstalledBases::File(const std::string& digest, size_t limit) const {
    return m_store.File(digest, limit);
}

}  // namespace zrx::history
