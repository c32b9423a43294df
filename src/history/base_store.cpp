#include "history/base_store.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/text_utils.h"
#include "history/record_database.h"
#include "history/record_folder.h"
#include "kernel/library_handles.h"
#include "kernel/zrxkernel.h"

namespace zrx::history {

namespace {

constexpr const char* kFolder = "bases";
constexpr const char* kLibraryNames[2] = {"elements.SYMBOL", "elements.PART"};
constexpr const char* kLibraryKinds[2] = {ZK_KIND_SYMBOL_LIBRARY, ZK_KIND_PART_LIBRARY};

// A kept file's name: its SHA-256 as 64 lower-case hex digits (nothing else is taken for one).
bool IsDigestName(const std::string& name) {
    return name.size() == 64 && name.find_first_not_of("0123456789abcdef") == std::string::npos;
}

}  // namespace

Result<BaseStore> BaseStore::Open(const RecordFolder& folder, Use use) {
    struct stat info {};
    if (use != Use::Keep && !folder.history.Look(kFolder, info)) return BaseStore();
    auto opened = PrivateFolder(folder.history, folder.historyPath, kFolder, use == Use::Keep);
    if (!opened) return Failure{opened.Why()};
    return BaseStore(std::move(*opened), use != Use::Read);
}

BaseStore::~BaseStore() {
    Close();
}

BaseStore::BaseStore(BaseStore&& other) noexcept {
    *this = std::move(other);
}

BaseStore& BaseStore::operator=(BaseStore&& other) noexcept {
    if (this == &other) return *this;
    Close();
    m_folder = std::move(other.m_folder);
    m_write = other.m_write;
    for (int i = 0; i < 2; ++i) {
        m_libraries[i] = std::exchange(other.m_libraries[i], 0);
        m_kept[i] = std::exchange(other.m_kept[i], {});
        m_listed[i] = std::exchange(other.m_listed[i], false);
        m_elementsWhole[i] = std::exchange(other.m_elementsWhole[i], {});
    }
    m_filesWhole = std::exchange(other.m_filesWhole, {});
    m_namesAdded = std::exchange(other.m_namesAdded, false);
    return *this;
}

void BaseStore::Close() {
    for (int32_t& library : m_libraries) {
        if (library > 0) E_CloseLibrary(library);
        library = 0;
    }
}

int32_t BaseStore::Library(bool part) {
    int32_t& library = m_libraries[part ? 1 : 0];
    if (library != 0 || !m_folder.IsOpen()) return std::max(library, 0);
    const char* name = kLibraryNames[part ? 1 : 0];
    struct stat info {};
    const bool exists = m_folder.Look(name, info);
    // Only a library of the record's owner that nobody else may write is read; a missing one is
    // made only by a run.
    if ((!exists && !m_write) || (exists && (!S_ISREG(info.st_mode) || !CheckPrivate(info, name)))) {
        library = -1;
        return 0;
    }
    library = std::max(0, OpenLibraryIn(m_folder, name, kLibraryKinds[part ? 1 : 0], m_write ? -1 : 0));
    if (library == 0) {
        library = -1;
        return 0;
    }
    // The kernel makes a library (and its side files) as the umask says; nobody but its owner may
    // write this one.
    if (m_write)
        for (const std::string& file :
             {std::string(name), std::string(name) + "-wal", std::string(name) + "-shm"})
            ::fchmodat(m_folder.Fd(), file.c_str(), 0644, 0);
    return library;
}

Outcome BaseStore::KeepElement(int32_t library, bool part, const std::string& name,
                               const std::string& digest) {
    if (!m_write || digest.empty()) return Failure{"the bases are not open for writing"};
    const int32_t kept = Library(part);
    if (kept == 0)
        return Failure{"the library of bases cannot be opened: " + StringFromPointer(E_LastError())};
    std::unordered_set<std::string>& digests = m_kept[part ? 1 : 0];
    if (!m_listed[part ? 1 : 0]) {
        for (int32_t i = 0;; ++i) {
            const char* entry = E_GetLibDirName(kept, i);
            if (entry == nullptr) break;
            digests.insert(entry);
        }
        m_listed[part ? 1 : 0] = true;
    }
    std::unordered_set<std::string>& whole = m_elementsWhole[part ? 1 : 0];
    if (whole.contains(digest)) return {};
    // Kept already, and whole: a base changed or damaged there is written anew.
    if (digests.contains(digest) && StringFromPointer(E_ElementDigest(kept, digest.c_str())) == digest) {
        whole.insert(digest);
        return {};
    }
    if (E_CopyElement(library, name.c_str(), kept, digest.c_str()) != 1)
        return Failure{"the element " + name + " cannot be kept: " + StringFromPointer(E_LastError())};
    digests.insert(digest);
    whole.insert(digest);
    return {};
}

Outcome BaseStore::KeepFile(int fd, const std::string& digest) {
    if (!m_write || !IsDigestName(digest)) return Failure{"the bases are not open for writing"};
    // Kept already, and whole: a base changed or damaged there is written anew.
    if (m_filesWhole.contains(digest)) return {};
    if (OpenKept(digest)) {
        m_filesWhole.insert(digest);
        return {};
    }
    auto made = m_folder.CreateTemporary(digest);
    if (!made) return Failure{made.Why()};
    const int out = made->file.Fd();
    // A clone shares the bytes it was made from, which are checked all the same.
    bool kept =
        ::ioctl(out, FICLONE, fd) == 0 && ::lseek(out, 0, SEEK_SET) == 0 && Sha256OfDescriptor(out) == digest;
    if (!kept) {
        std::string copied;
        kept = ::lseek(fd, 0, SEEK_SET) == 0 && ::ftruncate(out, 0) == 0 &&
               CopyDescriptor(fd, out, &copied) && copied == digest;
    }
    kept = kept && ::fchmod(out, 0644) == 0 &&
           ::renameat(m_folder.Fd(), made->name.c_str(), m_folder.Fd(), digest.c_str()) == 0;
    m_namesAdded = m_namesAdded || kept;
    if (!kept) {
        const std::string why = std::strerror(errno);
        ::unlinkat(m_folder.Fd(), made->name.c_str(), 0);
        return Failure{"the file cannot be kept: " + why};
    }
    m_filesWhole.insert(digest);
    return {};
}

bool BaseStore::Flush() {
    bool ok = true;
    // What did not reach the disk is no longer taken as kept: the next element or file of that
    // digest is kept anew.
    for (int i = 0; i < 2; ++i)
        if (m_libraries[i] > 0 && E_FlushLibrary(m_libraries[i]) == 0) {
            ok = false;
            m_elementsWhole[i].clear();
        }
    if (!m_namesAdded) return ok;
    m_namesAdded = false;
    if (m_folder.Sync()) return ok;
    m_filesWhole.clear();
    return false;
}

int32_t BaseStore::Element(bool part, const std::string& digest) {
    const int32_t library = Library(part);
    if (library == 0 || digest.empty()) return 0;
    return StringFromPointer(E_ElementDigest(library, digest.c_str())) == digest ? library : 0;
}

std::optional<FileHandle> BaseStore::OpenKept(const std::string& digest, size_t limit) const {
    if (!m_folder.IsOpen() || !IsDigestName(digest)) return std::nullopt;
    struct stat info {};
    auto file = m_folder.OpenRegular(digest, &info);
    if (!file || !CheckPrivate(info, digest) || static_cast<uint64_t>(info.st_size) > limit ||
        Sha256OfDescriptor(file->Fd()) != digest || ::lseek(file->Fd(), 0, SEEK_SET) != 0)
        return std::nullopt;
    return std::move(*file);
}

std::optional<std::string> BaseStore::File(const std::string& digest, size_t limit) const {
    const auto file = OpenKept(digest, limit);
    if (!file) return std::nullopt;
    auto bytes = ReadDescriptor(file->Fd(), digest, limit);  // the bytes just checked, through their handle
    if (!bytes) return std::nullopt;
    return std::move(*bytes);
}

void BaseStore::Prune(const std::unordered_set<std::string>& wanted) {
    if (!m_write) return;
    for (const bool part : {false, true}) {
        const int32_t library = Library(part);
        if (library == 0) continue;
        std::vector<std::string> unwanted;
        for (int32_t i = 0;; ++i) {
            const char* entry = E_GetLibDirName(library, i);
            if (entry == nullptr) break;
            if (!wanted.contains(entry)) unwanted.emplace_back(entry);
        }
        for (const std::string& name : unwanted) E_DeleteElement(library, name.c_str());
        m_kept[part ? 1 : 0].clear();
        m_elementsWhole[part ? 1 : 0].clear();
        m_listed[part ? 1 : 0] = false;
    }
    m_filesWhole.clear();
    std::vector<std::string> names;
    if (!m_folder.List(names)) return;
    for (const std::string& name : names)
        if ((IsDigestName(name) && !wanted.contains(name)) || IsTemporaryName(name))
            ::unlinkat(m_folder.Fd(), name.c_str(), 0);
}

// Ordered by id alone, which is the order of the runs: a run's changes are numbered after every
// change the record holds when it starts (one run at a time, each new number above the highest),
// and the table is read in that order without sorting it.
std::string BasesQuery(RecordDatabase& record) {
    RecordDatabase::Statement merges(record,
                                     "SELECT 1 FROM sqlite_master WHERE type='table' AND name='merges'");
    const bool merged = merges.Next();
    const std::string base = merged ? "COALESCE(m.base_digest, c.new_digest)" : "c.new_digest";
    return "SELECT c.root, c.path, c.name, " + base + " FROM changes c" +
           (merged ? " LEFT JOIN merges m ON m.change=c.id" : "") +
           " WHERE c.done=0 AND c.what IN (1, 2, 7) AND COALESCE(" + base + ", '')<>'' ORDER BY c.id";
}

std::optional<std::unordered_set<std::string>> WantedBases(RecordDatabase& record) {
    std::unordered_set<std::string> wanted;
    RecordDatabase::Statement query(record, BasesQuery(record).c_str());
    while (query.Next()) wanted.insert(query.Text(3));
    if (query.Failed()) return std::nullopt;
    return wanted;
}

void PruneBases(const RecordFolder& folder, RecordDatabase& record) {
    const auto wanted = WantedBases(record);
    if (!wanted) return;  // nothing goes that the record may still name
    {
        auto store = BaseStore::Open(folder, BaseStore::Use::Tidy);
        if (!store) return;
        store->Prune(*wanted);
        store->Flush();
    }
    E_FlushLibraries();  // its libraries at rest, with no log beside them
}

}  // namespace zrx::history
