#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

#include "base/outcome.h"
#include "history/base_store.h"

namespace zrx {

struct Environment;

namespace history {

// What the update runs installed, as the installation's record of runs keeps it: for every element
// and data file a run saved, the digest of what the last such run left there (the kernel's digest
// of an element, the SHA-256 of a file), unless that change was undone. An element or file whose
// content differs from it now was edited here since. An installation whose record names nothing
// for a place (upgraded before the record kept it, or the run that did was dropped from the record)
// has no base there.
class InstalledBases {
public:
    // Read from the record without writing anything; an installation without a record has no base.
    static Result<InstalledBases> Read(const Environment& env);
    // The digest the last run left at `path` (as a run names it) for the element `element` ("" for
    // a file); nothing when no run recorded one.
    const std::string* Of(const std::string& path, const std::string& element) const;
    bool Empty() const { return m_digests.empty(); }
    // What a run installed, where the runs' store keeps it (checked against its digest): a library
    // holding the element of `digest` under that name (0 when none is kept), the bytes of a file.
    int32_t Element(bool part, const std::string& digest);
    std::optional<std::string> File(const std::string& digest, size_t limit = SIZE_MAX) const;
    // Why the runs' store cannot be read ("" where it can, or there is none).
    const std::string& StoreProblem() const { return m_storeProblem; }

private:
    const Environment* m_env = nullptr;
    BaseStore m_store;
    std::string m_storeProblem;
    std::unordered_map<std::string, std::string> m_digests;  // by place and element
    // The place of the library asked for last, as the key's start: a preview asks for the
    // elements of one library after another.
    mutable std::string m_lastPath, m_lastPrefix;
    mutable std::string m_key;  // the key looked for, built in one buffer
};

}  // namespace history
}  // namespace zrx
