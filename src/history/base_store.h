#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_set>

#include "base/directory.h"
#include "base/outcome.h"

namespace zrx::history {

struct RecordFolder;
class RecordDatabase;

// What the update runs installed, kept once per digest in ".zrxlibug/history/bases", so that a
// later upgrade can merge its changes with the edits made here since: each element a run saved in
// the library "elements.PART" or "elements.SYMBOL" there, under its digest as its name, and each
// data file as a file named by its SHA-256. The folder is the record's own (never a link, its
// owner's, writable by nobody else); everything read from it is checked against its digest, so
// that a base changed or damaged there is no base rather than a wrong one. What no run still to be
// undone names goes (PruneBases).
class BaseStore {
public:
    // How a store is used: read (a preview), kept by a run (made where it is missing), or tidied
    // (what no run names any more removed; a store that is not there holds nothing).
    enum class Use { Read, Keep, Tidy };
    // The store beside the record in `folder`.
    static Result<BaseStore> Open(const RecordFolder& folder, Use use);
    BaseStore() = default;
    ~BaseStore();
    BaseStore(BaseStore&& other) noexcept;
    BaseStore& operator=(BaseStore&& other) noexcept;
    BaseStore(const BaseStore&) = delete;
    BaseStore& operator=(const BaseStore&) = delete;

    // Keeps the element `name` of the open library `library` (of parts, or of the symbol kind)
    // under its digest `digest`, unless an element is kept under it already.
    Outcome KeepElement(int32_t library, bool part, const std::string& name, const std::string& digest);
    // Keeps the bytes of the open file `fd` (read from its start), whose SHA-256 is `digest`,
    // unless a file of that digest is kept already; shared with it where the file system can
    // (a reflink), copied otherwise.
    Outcome KeepFile(int fd, const std::string& digest);
    // Makes what was kept durable: the element libraries flushed, the folder's new names synced
    // (the files' bytes reach the disk with the file system's sync the run makes for its record).
    bool Flush();

    // A library that holds the element of `digest` whole, under that name; 0 when none is kept.
    int32_t Element(bool part, const std::string& digest);
    // The kept file of `digest` read whole (at most `limit` bytes); nothing when none is kept, it
    // is larger, or its bytes are no longer those of the digest.
    std::optional<std::string> File(const std::string& digest, size_t limit = SIZE_MAX) const;

    // Removes every element and file that no digest of `wanted` names.
    void Prune(const std::unordered_set<std::string>& wanted);

private:
    BaseStore(Directory folder, bool write) : m_folder(std::move(folder)), m_write(write) {}
    int32_t Library(bool part);
    void Close();
    // The kept file of `digest`, open at its start, once it is seen to be the record owner's, at
    // most `limit` bytes and of that digest; nothing otherwise.
    std::optional<FileHandle> OpenKept(const std::string& digest, size_t limit = SIZE_MAX) const;

    Directory m_folder;  // not open: nothing is kept
    bool m_write = false;
    int32_t m_libraries[2] = {0, 0};  // symbols, parts; -1 where it cannot be opened
    // The digests kept in each library, listed once when a run first keeps an element.
    std::unordered_set<std::string> m_kept[2];
    bool m_listed[2] = {false, false};
    bool m_namesAdded = false;  // files kept since the folder was last synced
    // Digests this store kept or found whole since it was opened: an upgrade that installs the
    // same bytes in many places has them checked once.
    std::unordered_set<std::string> m_filesWhole;
    std::unordered_set<std::string> m_elementsWhole[2];
};

// The query of the record that names each base: root, path, element ("" for a file) and digest of
// every change not undone, oldest first, so that a later run's change at a place comes after an
// earlier one's. A record that has never been written by a run that merged has no table of merges.
std::string BasesQuery(RecordDatabase& record);
// The digests a base is kept for: what each change not undone left at its place (the upgrade's
// element or file, where the run saved a merge of it there). Nothing when the record cannot be read.
std::optional<std::unordered_set<std::string>> WantedBases(RecordDatabase& record);
// Removes the bases that no change still to be undone names (after runs were dropped or undone).
void PruneBases(const RecordFolder& folder, RecordDatabase& record);

}  // namespace zrx::history
