#include "library_file.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <dirent.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace zrx::kernel {

namespace {

// How long a library locked by another program is waited for: five seconds, or the milliseconds
// that ZRXKERNEL_LOCK_WAIT_MS gives.
int BusyTimeoutMs() {
    static const int timeout = [] {
        const char* setting = std::getenv("ZRXKERNEL_LOCK_WAIT_MS");
        char* end = nullptr;
        const long value = setting ? std::strtol(setting, &end, 10) : -1;
        return setting && *setting && *end == '\0' && value >= 0 && value <= 600000 ? static_cast<int>(value) : 5000;
    }();
    return timeout;
}

CommitHook g_commitHook = nullptr;
void* g_commitHookContext = nullptr;
bool g_inCommitHook = false;
constexpr char kSqliteMagic[] = "SQLite format 3";

bool Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

std::optional<int64_t> QueryInt(sqlite3* db, const char* sql) {
    Statement stmt(db, sql);
    if (!stmt.Valid() || sqlite3_step(stmt.Get()) != SQLITE_ROW) return std::nullopt;
    return sqlite3_column_int64(stmt.Get(), 0);
}

std::optional<std::string> QueryText(sqlite3* db, const char* sql) {
    Statement stmt(db, sql);
    if (!stmt.Valid() || sqlite3_step(stmt.Get()) != SQLITE_ROW) return std::nullopt;
    const unsigned char* text = sqlite3_column_text(stmt.Get(), 0);
    return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

// Looks at the first bytes without SQLite, so that a file that is not a database is never opened
// (and never touched) by it. Never through a link, and never a FIFO or device (whose open or read
// could wait forever).
bool HasSqliteHeader(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    char header[100];
    const ssize_t got = ::read(fd, header, sizeof header);
    ::close(fd);
    return got == static_cast<ssize_t>(sizeof header) && std::memcmp(header, kSqliteMagic, sizeof kSqliteMagic) == 0;
}

bool CreateSchema(sqlite3* db, std::string_view kind) {
    const std::string sql =
        "BEGIN IMMEDIATE;"
        "PRAGMA application_id=" + std::to_string(LibraryFile::kApplicationId) + ";"
        "PRAGMA user_version=" + std::to_string(LibraryFile::kFormatVersion) + ";"
        "CREATE TABLE meta(key TEXT PRIMARY KEY NOT NULL, value TEXT NOT NULL);"
        "CREATE TABLE elements(name TEXT PRIMARY KEY NOT NULL, data BLOB NOT NULL) WITHOUT ROWID;"
        "INSERT INTO meta VALUES('kind','" + std::string(kind) + "');"
        "INSERT INTO meta VALUES('format','" + std::to_string(LibraryFile::kFormatVersion) + "');"
        "COMMIT;";
    if (Exec(db, sql.c_str())) return true;
    Exec(db, "ROLLBACK");
    return false;
}

// The name of a temporary file beside `base`: ".<base>.zrxtmp-XXXXXX", the base shortened where
// the whole would not fit in one folder entry.
std::string TemporaryPattern(std::string base) {
    constexpr size_t kRoom = 255 - 1 - 8 - 6;
    if (base.size() > kRoom) {
        base.resize(kRoom);
        while (!base.empty() && (static_cast<unsigned char>(base.back()) & 0xc0) == 0x80) base.pop_back();
        if (!base.empty() && static_cast<unsigned char>(base.back()) >= 0xc0) base.pop_back();
    }
    return "." + base + ".zrxtmp-XXXXXX";
}

// Makes a new, empty library at `path`: whole in a temporary file beside it (".<name>.zrxtmp-..."),
// written to the disk, and only then given its name, never over a file that appeared meanwhile.
// A program killed on the way leaves a temporary file (which the next upgrade run removes), never
// a file under the library's name that is not a library. The temporary file is locked while it is
// made, so that a sweep of what killed programs left never takes it.
bool CreateLibraryFile(const std::string& path, std::string_view kind) {
    const auto slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temp = (dir == "/" ? std::string() : dir) + "/" + TemporaryPattern(base);
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return false;
    ::flock(fd, LOCK_EX | LOCK_NB);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const bool made = ::fchmod(fd, 0666 & ~mask) == 0;
    sqlite3* db = nullptr;
    // No journal: until it has its name, the file is nobody's, and a failure removes it.
    bool ok = made && sqlite3_open_v2(temp.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) ==
                          SQLITE_OK;
    ok = ok && Exec(db, "PRAGMA journal_mode=OFF") && Exec(db, "PRAGMA synchronous=FULL") && CreateSchema(db, kind);
    ok = sqlite3_close(db) == SQLITE_OK && ok;
    if (ok && ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) != 0) {
        // File systems without an exclusive rename get a hard link, which is exclusive too.
        ok = (errno == EINVAL || errno == ENOSYS) && ::link(temp.c_str(), path.c_str()) == 0;
    }
    ::unlink(temp.c_str());
    ::close(fd);
    return ok;
}

// The unix file system of SQLite, with one change: a path that reaches a file through a folder
// handle (IsHandlePath) is used as it is written, not resolved to the folder's path of the moment,
// so that the library and its journal and log are opened through the handle; and a library that
// is a symbolic link is never opened (as SQLITE_OPEN_NOFOLLOW asks).
sqlite3_vfs* g_unixVfs = nullptr;
sqlite3_vfs g_handleVfs;

int HandleFullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
    int folder = 0;
    std::string leaf;
    const std::string path = name ? name : "";
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) return SQLITE_CANTOPEN_SYMLINK;
    if (!IsHandlePath(path, folder, leaf)) return g_unixVfs->xFullPathname(g_unixVfs, name, size, out);
    if (static_cast<int>(path.size()) >= size) return SQLITE_CANTOPEN;
    std::memcpy(out, path.c_str(), path.size() + 1);
    return SQLITE_OK;
}

// The files SQLite keeps beside a library while it is written.
constexpr const char* kSideFiles[] = {"-journal", "-wal", "-shm"};

// Whether `path` is no file, or a regular one (not followed): a FIFO or device in place of a
// library's journal or log would make its open or read wait forever.
bool AbsentOrRegular(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) != 0 ? errno == ENOENT : S_ISREG(info.st_mode);
}

// Opens as the unix file system does, but never a library, journal or log that is not a regular
// file, nor a library whose shared index is not one.
int HandleOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
    if (name != nullptr && (flags & (SQLITE_OPEN_MAIN_DB | SQLITE_OPEN_MAIN_JOURNAL | SQLITE_OPEN_WAL)) != 0) {
        if (!AbsentOrRegular(name)) return SQLITE_CANTOPEN;
        if ((flags & SQLITE_OPEN_MAIN_DB) != 0 && !AbsentOrRegular(std::string(name) + "-shm"))
            return SQLITE_CANTOPEN;
    }
    return g_unixVfs->xOpen(g_unixVfs, name, file, flags, outFlags);
}

const char* HandleVfs() {
    static const char* const name = [] {
        g_unixVfs = sqlite3_vfs_find(nullptr);
        if (g_unixVfs == nullptr) return static_cast<const char*>(nullptr);
        g_handleVfs = *g_unixVfs;
        g_handleVfs.zName = "zrx-handle";
        g_handleVfs.pNext = nullptr;
        g_handleVfs.xFullPathname = HandleFullPathname;
        g_handleVfs.xOpen = HandleOpen;
        return sqlite3_vfs_register(&g_handleVfs, 0) == SQLITE_OK ? "zrx-handle" : nullptr;
    }();
    return name;
}

}  // namespace

// Paths of the form /proc/self/fd/N/NAME name NAME in the folder the caller holds open as N: the
// file is reached through that folder whatever happens to its path. The kernel takes a handle of
// its own on the folder, so that the caller may let its own go.
bool IsHandlePath(const std::string& path, int& folder, std::string& name) {
    constexpr std::string_view kPrefix = "/proc/self/fd/";
    if (!path.starts_with(kPrefix)) return false;
    const size_t slash = path.find('/', kPrefix.size());
    if (slash == std::string::npos || slash == kPrefix.size()) return false;
    folder = 0;
    for (size_t i = kPrefix.size(); i < slash; ++i) {
        if (path[i] < '0' || path[i] > '9' || folder > 100000000) return false;
        folder = folder * 10 + (path[i] - '0');
    }
    name = path.substr(slash + 1);
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

bool LookAtLibrary(const std::string& path, struct stat& info) {
    int folder = 0;
    std::string name;
    // Through the held folder itself: resolving the /proc link would walk the whole path again.
    if (IsHandlePath(path, folder, name))
        return ::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
    return ::lstat(path.c_str(), &info) == 0;
}

Statement::Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
    }
}

Statement::~Statement() { sqlite3_finalize(m_stmt); }

void Statement::Reset() {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

std::unique_ptr<LibraryFile> LibraryFile::Open(const std::string& given, std::string_view kind, bool write,
                                               OpenError& error) {
    error = OpenError::None;
    // A file reached through the caller's folder handle is reached through one of the kernel's own
    // from here on, for as long as the file is open.
    std::string path = given;
    int folder = -1;
    std::string leaf;
    FolderHandle own;
    if (IsHandlePath(given, folder, leaf)) {
        own.fd = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
        if (own.fd < 0) {
            error = OpenError::Missing;
            return nullptr;
        }
        path = "/proc/self/fd/" + std::to_string(own.fd) + "/" + leaf;
    }
    // Its side files are named after it: a name that leaves them no room could never be written.
    const std::string fileName = path.substr(path.rfind('/') + 1);
    if (fileName.size() + std::strlen("-journal") > 255) {
        error = OpenError::NameTooLong;
        return nullptr;
    }
    struct stat info {};
    bool created = false;
    if (::lstat(path.c_str(), &info) != 0) {
        if (!write) {
            error = OpenError::Missing;
            return nullptr;
        }
        created = CreateLibraryFile(path, kind);
        // Not made here, and not by another program meanwhile either: it cannot be created.
        if (::lstat(path.c_str(), &info) != 0) {
            error = OpenError::CannotCreate;
            return nullptr;
        }
    }
    if (S_ISLNK(info.st_mode)) {
        error = OpenError::Link;
        return nullptr;
    }
    if (!created && (!S_ISREG(info.st_mode) || !HasSqliteHeader(path))) {
        error = OpenError::NotALibrary;
        return nullptr;
    }
    for (const char* side : kSideFiles)
        if (!AbsentOrRegular(path + side)) {
            error = OpenError::SideFile;
            return nullptr;
        }

    const bool canWrite = created || ::access(path.c_str(), W_OK) == 0;
    if (write && !canWrite) {
        error = OpenError::CannotCreate;
        return nullptr;
    }
    // A library that is only read gets a read-only connection: it never writes the file or its side
    // files (a read-write connection would fold a write-ahead log left by a killed writer back into
    // the file when it closes). MakeWritable opens a read-write one when a write comes.
    std::unique_ptr<Snapshot> snapshot;
    sqlite3* db = OpenConnection(path, write, &snapshot);
    if (db == nullptr) {
        error = OpenError::NotALibrary;
        return nullptr;
    }
    auto fail = [&](OpenError why) -> std::unique_ptr<LibraryFile> {
        sqlite3_close(db);
        error = why;
        return nullptr;
    };
    if (const OpenError why = CheckLibrary(db, kind); why != OpenError::None) return fail(why);
    auto file = std::unique_ptr<LibraryFile>(
        new LibraryFile(db, path, std::string(kind), false, info.st_dev, info.st_ino));
    file->m_folder = std::move(own);
    file->m_snapshot = std::move(snapshot);
    file->m_canWrite = canWrite;
    file->m_readWrite = write;
    if (!file->PrepareStatements()) {
        error = OpenError::Damaged;
        return nullptr;
    }
    if (write && !file->MakeWritable(!created)) {
        error = OpenError::Damaged;
        return nullptr;
    }
    return file;
}

namespace {

std::string UriOf(const std::string& path) {
    std::string uri = "file:";
    for (const char c : path) {
        if (c == '?' || c == '#' || c == '%') {
            static const char kHex[] = "0123456789ABCDEF";
            uri += '%';
            uri += kHex[static_cast<unsigned char>(c) >> 4];
            uri += kHex[static_cast<unsigned char>(c) & 15];
        } else {
            uri += c;
        }
    }
    return uri;
}

// Copies the regular file `from` (never through a link) to the new file `to`; false when it cannot.
bool CopyFile(const std::string& from, const std::string& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    const int out = in < 0 ? -1 : ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    bool ok = in >= 0 && out >= 0;
    std::vector<char> buffer(1 << 16);
    while (ok) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got == 0) break;
        ok = got > 0 && ::write(out, buffer.data(), static_cast<size_t>(got)) == got;
    }
    if (in >= 0) ::close(in);
    if (out >= 0 && ::close(out) != 0) ok = false;
    return ok;
}

}  // namespace

namespace {

constexpr const char* kSnapshotPrefix = "zrxkernel-";

void RemoveSnapshotFolder(int parent, const std::string& name) {
    for (const char* side : {"", "-wal", "-shm", "-journal"})
        ::unlinkat(parent, (name + "/library" + side).c_str(), 0);
    ::unlinkat(parent, name.c_str(), AT_REMOVEDIR);
}

// Removes the private copies that killed programs left in the temporary folder `tmp`: this user's
// folders of copies that no running program holds locked.
void RemoveLeftSnapshots(const std::string& tmp) {
    const int parent = ::open(tmp.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0) return;
    const int listed = ::dup(parent);
    DIR* dir = listed < 0 ? nullptr : ::fdopendir(listed);
    if (dir == nullptr && listed >= 0) ::close(listed);
    while (dir != nullptr) {
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr) break;
        const std::string name = entry->d_name;
        struct stat info {};
        if (!name.starts_with(kSnapshotPrefix) || ::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 077) != 0)
            continue;
        const int folder = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (folder >= 0 && ::flock(folder, LOCK_EX | LOCK_NB) == 0) RemoveSnapshotFolder(parent, name);
        if (folder >= 0) ::close(folder);
    }
    if (dir != nullptr) ::closedir(dir);
    ::close(parent);
}

}  // namespace

LibraryFile::Snapshot::~Snapshot() {
    const size_t slash = folder.rfind('/');
    const int parent = ::open(folder.substr(0, slash == 0 ? 1 : slash).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent >= 0) {
        RemoveSnapshotFolder(parent, folder.substr(slash + 1));
        ::close(parent);
    }
    if (lock >= 0) ::close(lock);
}

sqlite3* LibraryFile::OpenConnection(const std::string& path, bool readWrite, std::unique_ptr<Snapshot>* snapshot) {
    std::string uri = UriOf(path);
    struct stat info {};
    const bool log = ::lstat((path + "-wal").c_str(), &info) == 0;
    const bool index = ::lstat((path + "-shm").c_str(), &info) == 0;
    if (!readWrite && log && index) {
        // Read-only, a write-ahead log left beside the library is read with its shared index as it
        // stands: nothing beside the library changes.
        uri += "?readonly_shm=1";
    } else if (!readWrite && log && snapshot != nullptr) {
        // A log without its index (a writer killed, the index gone since) cannot be read without
        // making the index beside it: the library and its log are read from a private copy.
        const char* tmp = std::getenv("TMPDIR");
        const std::string parent = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
        RemoveLeftSnapshots(parent);
        std::string folder = parent + "/" + kSnapshotPrefix + "XXXXXX";
        if (::mkdtemp(folder.data()) == nullptr) return nullptr;
        *snapshot = std::make_unique<Snapshot>();
        (*snapshot)->folder = folder;
        // Locked while it is in use, so that another program's sweep leaves it alone.
        (*snapshot)->lock = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if ((*snapshot)->lock < 0 || ::flock((*snapshot)->lock, LOCK_EX | LOCK_NB) != 0) {
            snapshot->reset();
            return nullptr;
        }
        if (!CopyFile(path, folder + "/library") || !CopyFile(path + "-wal", folder + "/library-wal")) {
            snapshot->reset();
            return nullptr;
        }
        uri = UriOf(folder + "/library");
        readWrite = true;
    }
    sqlite3* db = nullptr;
    const int flags = (readWrite ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_NOMUTEX |
                      SQLITE_OPEN_URI | SQLITE_OPEN_NOFOLLOW;
    if (sqlite3_open_v2(uri.c_str(), &db, flags, HandleVfs()) != SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, BusyTimeoutMs());
    sqlite3_extended_result_codes(db, 1);
    // A run writes thousands of elements of one library: its pages stay in memory. A library only
    // read is read in the order of its names, once: the pages on the way to the next element
    // are all it keeps.
    Exec(db, readWrite ? "PRAGMA cache_size=-8192" : "PRAGMA cache_size=-512");
    return db;
}

OpenError LibraryFile::CheckLibrary(sqlite3* db, std::string_view kind) {
    const auto appId = QueryInt(db, "PRAGMA application_id");
    if (!appId) {
        // A rollback journal left by a program stopped in the middle of a write: only a writer may
        // finish it.
        if (sqlite3_extended_errcode(db) == SQLITE_READONLY_ROLLBACK) return OpenError::Interrupted;
        const int code = sqlite3_extended_errcode(db) & 0xFF;
        if (code == SQLITE_BUSY || code == SQLITE_LOCKED) return OpenError::Locked;
        return code == SQLITE_CORRUPT ? OpenError::Damaged : OpenError::NotALibrary;
    }
    if (*appId != kApplicationId) return OpenError::NotALibrary;
    const auto version = QueryInt(db, "PRAGMA user_version");
    if (!version || *version < 1) return OpenError::NotALibrary;
    if (*version > kFormatVersion) return OpenError::NewerFormat;
    const auto storedKind = QueryText(db, "SELECT value FROM meta WHERE key='kind'");
    if (!storedKind) return OpenError::Damaged;
    if (*storedKind != kind) return OpenError::WrongKind;
    return OpenError::None;
}

bool LibraryFile::MakeWritable(bool check) {
    if (m_writable) return true;
    if (!m_canWrite) return false;
    EndRead();
    if (!m_readWrite) {
        // The read-only connection gives way to a read-write one on the same file.
        sqlite3* db = OpenConnection(m_path, true, nullptr);
        struct stat info {};
        if (db == nullptr || ::lstat(m_path.c_str(), &info) != 0 || !SameFileAs(info.st_dev, info.st_ino) ||
            CheckLibrary(db, m_kind) != OpenError::None) {
            sqlite3_close(db);
            return false;
        }
        m_select.reset();
        m_names.reset();
        sqlite3_close(m_db);
        m_db = db;
        m_readWrite = true;
        if (!PrepareStatements()) return false;
    }
    if (check) {
        // A damaged library is refused before anything is written into it, never repaired.
        const auto result = QueryText(m_db, "PRAGMA quick_check");
        if (!result || *result != "ok") return false;
    }
    // Write-ahead logging while the program works with the file; Settle() returns it to a plain
    // rollback journal so that a library at rest has no side files.
    Exec(m_db, "PRAGMA journal_mode=WAL");
    Exec(m_db, "PRAGMA synchronous=NORMAL");
    m_insert = std::make_unique<Statement>(m_db, "INSERT OR REPLACE INTO elements(name,data) VALUES(?1,?2)");
    m_delete = std::make_unique<Statement>(m_db, "DELETE FROM elements WHERE name=?1");
    if (!m_insert->Valid() || !m_delete->Valid()) return false;
    m_writable = true;
    return true;
}

LibraryFile::LibraryFile(sqlite3* db, std::string path, std::string kind, bool writable, dev_t device, ino_t inode)
    : m_db(db), m_path(std::move(path)), m_kind(std::move(kind)), m_writable(writable), m_device(device), m_inode(inode) {}

void LibraryFile::SetCommitHook(CommitHook hook, void* context) {
    g_commitHook = hook;
    g_commitHookContext = context;
}

LibraryFile::~LibraryFile() {
    Commit();
    m_select.reset();
    m_insert.reset();
    m_delete.reset();
    sqlite3_close(m_db);
}

LibraryFile::FolderHandle::~FolderHandle() {
    if (fd >= 0) ::close(fd);
}

bool LibraryFile::PrepareStatements() {
    m_select = std::make_unique<Statement>(m_db, "SELECT data FROM elements WHERE name=?1");
    return m_select->Valid();
}

// Reads share one read transaction until it is as old as a batch, so that a run that reads an
// element after element does not lock and unlock the file for each one.
void LibraryFile::BeginRead() {
    if (m_inTransaction || m_inRead) return;
    if (Exec(m_db, "BEGIN")) {
        m_inRead = true;
        m_transactionStart = std::chrono::steady_clock::now();
    }
}

void LibraryFile::EndRead() {
    m_cacheValid = false;
    if (!m_inRead) return;
    Exec(m_db, "COMMIT");
    m_inRead = false;
}

const std::optional<std::string>& LibraryFile::Read(std::string_view name) {
    BeginRead();
    // The element read last is kept while the read lasts: a caller that compares, digests and
    // copies one element reads it once.
    if (m_cacheValid && m_cachedName == name) return m_cachedData;
    sqlite3_stmt* s = m_select->Get();
    sqlite3_bind_text(s, 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
    const int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) {
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(s, 0));
        const size_t size = static_cast<size_t>(sqlite3_column_bytes(s, 0));
        if (m_cachedData) m_cachedData->assign(bytes ? bytes : "", size);  // keeps its buffer
        else m_cachedData.emplace(bytes ? bytes : "", size);
    } else {
        m_cachedData.reset();
        if (rc != SQLITE_DONE) m_lastError = sqlite3_errmsg(m_db);
    }
    m_readFailed = rc != SQLITE_ROW && rc != SQLITE_DONE;
    m_select->Reset();
    m_cacheValid = rc == SQLITE_ROW || rc == SQLITE_DONE;
    m_cachedName = name;
    return m_cachedData;
}

bool LibraryFile::BeginBatch() {
    EndRead();
    m_cacheValid = false;
    if (m_inTransaction) return true;
    if (!Exec(m_db, "BEGIN IMMEDIATE")) {
        m_lastError = sqlite3_errmsg(m_db);
        return false;
    }
    m_inTransaction = true;
    m_transactionStart = std::chrono::steady_clock::now();
    return true;
}

// One statement: an insert (or replacement) with data, a deletion without.
bool LibraryFile::Apply(std::string_view name, const std::optional<std::string>& data) {
    Statement& statement = data ? *m_insert : *m_delete;
    sqlite3_stmt* s = statement.Get();
    sqlite3_bind_text(s, 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
    if (data) sqlite3_bind_blob(s, 2, data->data(), static_cast<int>(data->size()), SQLITE_STATIC);
    const bool ok = sqlite3_step(s) == SQLITE_DONE;
    if (!ok) m_lastError = sqlite3_errmsg(m_db);
    statement.Reset();
    return ok;
}

bool LibraryFile::Save(std::string_view name, std::string_view data) {
    if (!m_writable || !BeginBatch()) return false;
    // One statement is atomic inside the transaction: a failed insert leaves nothing behind.
    std::optional<std::string> stored(std::in_place, data);
    const bool ok = Apply(name, stored);
    if (ok) {
        m_names.reset();
        m_pendingBytes += name.size() + data.size();
        m_pending.emplace_back(name, std::move(stored));
    }
    // A failed statement may have ended the transaction (a full disk, for example).
    if (m_inTransaction && sqlite3_get_autocommit(m_db)) {
        m_inTransaction = false;
        if (!m_pending.empty()) Commit();
    }
    if (m_pendingBytes >= kMaxBatchBytes) Commit();
    // What was saved is what the open transaction reads back: a caller that digests the element
    // it has just saved does not read it again (a commit forgets it, as any read's end does).
    if (ok && m_inTransaction) {
        m_cachedName = name;
        m_cachedData.emplace(data);
        m_cacheValid = true;
    }
    return ok;
}

bool LibraryFile::Delete(std::string_view name) {
    if (!m_writable || !BeginBatch()) return false;
    const bool ok = Apply(name, std::nullopt);
    if (ok) {
        m_names.reset();
        m_pending.emplace_back(name, std::nullopt);
    }
    if (m_inTransaction && sqlite3_get_autocommit(m_db)) {
        m_inTransaction = false;
        if (!m_pending.empty()) Commit();
    }
    return ok;
}

bool LibraryFile::Commit() {
    EndRead();
    if (!m_inTransaction && m_pending.empty()) return true;
    // Saves gathered with no transaction left: SQLite rolled the whole of it back when one
    // statement failed (a full disk, say). They are not in the file: each is tried again below.
    const bool lost = !m_inTransaction;
    if (g_commitHook != nullptr && !g_inCommitHook) {
        // Whoever must be durable before these saves are (a record of what they replace) is told
        // first; should it fail, the saves are not made durable at all.
        g_inCommitHook = true;
        const bool allowed = g_commitHook(g_commitHookContext) != 0;
        g_inCommitHook = false;
        if (!allowed) {
            Exec(m_db, "ROLLBACK");
            m_inTransaction = false;
            m_lastError = "what these saves replace could not be recorded first";
            for (const auto& [name, data] : m_pending) m_failedSaves.push_back(name);
            m_pending.clear();
            m_pendingBytes = 0;
            m_names.reset();
            return false;
        }
    }
    bool ok = !lost && Exec(m_db, "COMMIT");
    if (!ok || !sqlite3_get_autocommit(m_db)) {
        m_lastError = sqlite3_errmsg(m_db);
        if (!lost) Exec(m_db, "ROLLBACK");
        ok = false;
    }
    m_inTransaction = false;
    if (!ok) {
        // Try every gathered save on its own, so that only those that cannot be written are lost.
        for (const auto& [name, data] : m_pending)
            if (!Apply(name, data)) m_failedSaves.push_back(name);
        m_names.reset();
    }
    m_pending.clear();
    m_pendingBytes = 0;
    return m_failedSaves.empty();
}

void LibraryFile::CommitIfOld() {
    if ((m_inTransaction || m_inRead) && std::chrono::steady_clock::now() - m_transactionStart >= kMaxBatchAge) Commit();
}

std::vector<std::string> LibraryFile::TakeFailedSaves() { return std::exchange(m_failedSaves, {}); }

const std::vector<std::string>& LibraryFile::Names() {
    if (!m_names) {
        BeginRead();
        m_names.emplace();
        Statement stmt(m_db, "SELECT name FROM elements ORDER BY name");
        while (stmt.Valid() && sqlite3_step(stmt.Get()) == SQLITE_ROW) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt.Get(), 0));
            m_names->emplace_back(text ? text : "", static_cast<size_t>(sqlite3_column_bytes(stmt.Get(), 0)));
        }
    }
    return *m_names;
}

void LibraryFile::Settle() {
    Commit();
    if (m_writable) Exec(m_db, "PRAGMA journal_mode=DELETE");
}

}  // namespace zrx::kernel
