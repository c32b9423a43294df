#include "history/record_database.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <utility>

#include "apply/run_guard.h"
#include "base/paths.h"
#include "history/record_folder.h"

namespace zrx::history {

namespace {

constexpr const char* kFileName = "history.db";

constexpr const char* kSchema =
    // installation: the identity of the installation the record belongs to; keep: the runs kept.
    "CREATE TABLE settings(key TEXT PRIMARY KEY NOT NULL, value TEXT NOT NULL);"
    // state: running, complete, rolling back, rolled back, partly rolled back. verification and
    // signer: what was known of the upgrade folder the run came from.
    // roots: the real paths of the installation's folders when the run began, one a line, so that
    // a rollback finds its places where the run made its changes or refuses.
    "CREATE TABLE runs(id INTEGER PRIMARY KEY, started TEXT NOT NULL, ended TEXT, folder TEXT NOT NULL,"
    " state TEXT NOT NULL, roots TEXT NOT NULL DEFAULT '', verification TEXT, signer TEXT);"
    // what: 1 element of a part library, 7 of a symbol-kind library, 2 file, 3 library made,
    // 4 folder made, 5 index line, 8 index as it was before the run. root and path:
    // the place, relative to one of the installation's folders (see InstallationFolder). name: the element,
    // or the index line. link: the run wrote through a symbolic link at the place (for an element,
    // old_device and old_inode are the library file's). old_*: what was there (kept in the run's
    // folder under the change's number; a file's with its kept copy's digest); new_*: what the run
    // left there, once known. done: 1 once a rollback has dealt with it.
    "CREATE TABLE changes(id INTEGER PRIMARY KEY, run INTEGER NOT NULL, what INTEGER NOT NULL,"
    " root INTEGER NOT NULL, path TEXT NOT NULL, name TEXT NOT NULL DEFAULT '', created INTEGER NOT NULL,"
    " link INTEGER NOT NULL DEFAULT 0, old_digest TEXT, old_device INTEGER, old_inode INTEGER,"
    " old_size INTEGER, old_mtime INTEGER, new_digest TEXT, new_device INTEGER, new_inode INTEGER,"
    " new_size INTEGER, new_mtime INTEGER, done INTEGER NOT NULL DEFAULT 0);"
    "CREATE INDEX changes_of_run ON changes(run, what);";

// The columns of each table, as the schema above makes them.
const std::vector<std::pair<const char*, std::vector<const char*>>> kTableColumns = {
    {"settings", {"key", "value"}},
    {"runs", {"id", "started", "ended", "folder", "state", "roots", "verification", "signer"}},
    {"changes",
     {"id", "run", "what", "root", "path", "name", "created", "link", "old_digest", "old_device", "old_inode",
      "old_size", "old_mtime", "new_digest", "new_device", "new_inode", "new_size", "new_mtime", "done"}},
};

// The unix file system of SQLite, with one change: a path that reaches the record through the
// folder's handle ("/proc/self/fd/N/history.db") is used as it is written, not resolved to the
// folder's path of the moment, so that the record, its log and its index are opened through the
// handle that was checked; and a record that is a symbolic link is never opened.
sqlite3_vfs* g_unixVfs = nullptr;
sqlite3_vfs g_handleVfs;

int HandleFullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
    const std::string path = name ? name : "";
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode))
        return SQLITE_CANTOPEN_SYMLINK;  // file-access: the name SQLite opens, through the record folder's
                                         // handle
    if (!path.starts_with("/proc/self/fd/")) return g_unixVfs->xFullPathname(g_unixVfs, name, size, out);
    if (static_cast<int>(path.size()) >= size) return SQLITE_CANTOPEN;
    std::memcpy(out, path.c_str(), path.size() + 1);
    return SQLITE_OK;
}

const char* HandleVfs() {
    static const char* const name = [] {
        g_unixVfs = sqlite3_vfs_find(nullptr);
        if (g_unixVfs == nullptr) return static_cast<const char*>(nullptr);
        g_handleVfs = *g_unixVfs;
        g_handleVfs.zName = "zrx-record";
        g_handleVfs.pNext = nullptr;
        g_handleVfs.xFullPathname = HandleFullPathname;
        return sqlite3_vfs_register(&g_handleVfs, 0) == SQLITE_OK ? "zrx-record" : nullptr;
    }();
    return name;
}

int OpenDatabase(const std::string& uri, int flags, sqlite3** db) {
    // file-access: a path through the record folder's handle (or the private copy's), never resolved anew
    return sqlite3_open_v2(uri.c_str(), db, flags | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_URI, HandleVfs());
}

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

// Makes a new, empty record whole in a temporary file beside it and only then gives it its name, so
// that a program killed on the way never leaves a file under the record's name that is no record.
Outcome CreateRecordFile(const Directory& folder, const std::string& path, const std::string& installation) {
    auto made = folder.CreateTemporary(kFileName);
    if (!made) return Failure{path + " cannot be made: " + made.Why()};
    const std::string temp = made->name;
    std::string error;
    sqlite3* db = nullptr;
    // Made in write-ahead logging, which it keeps: its journal mode never changes after it has its
    // name, so that no program stopped at any moment leaves it half-switched. It carries the
    // installation's identity from the start.
    const std::string schema =
        "PRAGMA journal_mode=WAL;PRAGMA synchronous=FULL;BEGIN;PRAGMA application_id=" +
        std::to_string(RecordDatabase::kApplicationId) +
        ";PRAGMA user_version=" + std::to_string(RecordDatabase::kFormatVersion) + ";" + kSchema + "COMMIT;";
    bool ok = OpenDatabase(UriOf(folder.PathThrough(temp)), SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                           &db) == SQLITE_OK &&
              sqlite3_exec(db, schema.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_stmt* identity = nullptr;
    ok = ok && sqlite3_prepare_v2(db, "INSERT INTO settings VALUES('installation', ?1)", -1, &identity, nullptr) == SQLITE_OK &&
         sqlite3_bind_text(identity, 1, installation.c_str(), -1, SQLITE_TRANSIENT) == SQLITE_OK &&
         sqlite3_step(identity) == SQLITE_DONE;
    sqlite3_finalize(identity);
    // Everything moved from the log into the file itself before it gets its name: a close whose
    // last checkpoint fails (a full disk) says nothing, and would leave the file without its schema.
    ok = ok && sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr) == SQLITE_OK;
    if (!ok) error = path + " cannot be made: " + (db ? sqlite3_errmsg(db) : "out of memory");
    ok = sqlite3_close(db) == SQLITE_OK && ok;
    struct stat log {};
    if (ok && folder.Look(temp + "-wal", log) && log.st_size > 0) {
        error = path + " cannot be made: its first contents did not reach the disk (is it full?)";
        ok = false;
    }
    // A record that another program made meanwhile is kept; this one goes.
    if (ok && ::linkat(folder.Fd(), temp.c_str(), folder.Fd(), kFileName, 0) != 0 && errno != EEXIST) {
        error = path + " cannot be made: " + std::strerror(errno);
        ok = false;
    }
    for (const char* side : {"", "-wal", "-shm"}) ::unlinkat(folder.Fd(), (temp + side).c_str(), 0);
    folder.Sync();
    if (!ok) return Failure{error};
    return {};
}

// Copies the regular file `name` of `from` into the new file `name` of `to`; false when it cannot.
bool CopyInto(const Directory& from, const Directory& to, const std::string& name) {
    const auto in = from.OpenRegular(name);
    if (!in) return false;
    const FileHandle out(
        ::openat(to.Fd(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    return out.IsOpen() && CopyDescriptor(in->Fd(), out.Fd());
}

// Every commit reaches the disk before the changes it records are made; the record's own
// indexes are there (a record made by an earlier version of this format gains them), and so is
// the table of merges: a save or file a run merged with the edits made here, with the digest of
// what the upgrade offered there, the base a later merge at that place starts from (what the run
// wrote is the change's new_digest). A change's merge goes with it.
void PrepareForWriting(RecordDatabase& record) {
    record.Exec("PRAGMA synchronous=FULL");
    record.Exec("PRAGMA foreign_keys=ON");
    record.Exec("CREATE INDEX IF NOT EXISTS changes_at ON changes(root, path, run)");
    record.Exec(
        "CREATE TABLE IF NOT EXISTS merges(change INTEGER PRIMARY KEY REFERENCES changes(id)"
        " ON DELETE CASCADE, base_digest TEXT NOT NULL)");
}

}  // namespace

Result<std::unique_ptr<RecordDatabase>> RecordDatabase::Open(const Directory& folder,
                                                             const std::string& folderPath, Mode mode,
                                                             Refusal* refusal,
                                                             const std::string& installation, bool* made) {
    Refusal ignored = Refusal::None;
    Refusal& why = refusal ? *refusal : ignored;
    why = Refusal::Unusable;
    if (made) *made = false;
    const std::string path = folderPath + "/" + kFileName;
    struct stat info {};
    const bool exists = folder.Look(kFileName, info);
    if (!exists && mode != Mode::Create) {
        why = Refusal::Missing;
        return Failure{"there is no record of update runs in " + folderPath};
    }
    if (exists && !S_ISREG(info.st_mode)) {
        why = Refusal::NotOurs;
        return Failure{path + " is not a record of update runs"};
    }
    if (mode == Mode::Create) {
        // What a creation that was killed left behind.
        RemoveLeftTemporaries(folder, false);
        if (!exists)
            if (const Outcome created = CreateRecordFile(folder, path, installation); !created)
                return Failure{created.Why()};
        if (!exists && made) *made = true;
    }
    // Read-only, it is read without writing anything beside it: with no write-ahead log beside it
    // nobody is writing it, and it is read as it stands; with a log and its index, the index is
    // only read; with a log whose index is gone (a killed writer), from a private copy.
    std::string uri = UriOf(folder.PathThrough(kFileName));
    std::unique_ptr<ScratchFolder> snapshot;
    if (mode == Mode::ReadOnly) {
        struct stat side {};
        if (!folder.Look(std::string(kFileName) + "-wal", side)) {
            uri += "?immutable=1";
        } else if (folder.Look(std::string(kFileName) + "-shm", side)) {
            uri += "?readonly_shm=1";
        } else {
            // The user's own scratch folder, locked while the copy is read, so that another
            // program's sweep of what killed programs left does not take it.
            auto scratch = ScratchFolder::Make(nullptr);
            if (!scratch)
                return Failure{path + " cannot be read: no private copy can be made (" + scratch.Why() + ")"};
            snapshot = std::move(*scratch);
            if (!CopyInto(folder, snapshot->Folder(), kFileName) ||
                !CopyInto(folder, snapshot->Folder(), std::string(kFileName) + "-wal"))
                return Failure{path + " cannot be read: no private copy can be made"};
            uri = UriOf(snapshot->Folder().PathThrough(kFileName));
        }
    }
    sqlite3* db = nullptr;
    const int flags = (mode == Mode::ReadOnly && !snapshot ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) |
                      SQLITE_OPEN_NOMUTEX;
    if (OpenDatabase(uri, flags, &db) != SQLITE_OK) {
        Failure failure{path + " cannot be opened: " + (db ? sqlite3_errmsg(db) : "out of memory")};
        sqlite3_close(db);
        return failure;
    }
    sqlite3_busy_timeout(db, 5000);
    auto record = std::unique_ptr<RecordDatabase>(new RecordDatabase(db));
    record->m_snapshot = std::move(snapshot);
    // The checks' statements end before the journal mode can change.
    if (const Outcome checked = record->Check(path, why); !checked) {
        // A database with nothing in it at all is a record whose making failed on a full disk
        // before the program looked out for that: nothing is lost when it is made anew.
        if (mode == Mode::Create && why == Refusal::NotOurs && record->IsEmptyDatabase()) {
            record.reset();
            for (const char* side : {"", "-wal", "-shm"})
                ::unlinkat(folder.Fd(), (std::string(kFileName) + side).c_str(), 0);
            return Open(folder, folderPath, mode, refusal, installation, made);
        }
        return Failure{checked.Why()};
    }
    if (mode != Mode::ReadOnly) PrepareForWriting(*record);
    why = Refusal::None;
    return std::move(record);
}

bool RecordDatabase::IsEmptyDatabase() {
    Statement id(*this, "PRAGMA application_id");
    Statement version(*this, "PRAGMA user_version");
    Statement tables(*this, "SELECT COUNT(*) FROM sqlite_master");
    return id.Next() && id.Int(0) == 0 && version.Next() && version.Int(0) == 0 && tables.Next() && tables.Int(0) == 0;
}

Outcome RecordDatabase::Check(const std::string& path, Refusal& why) {
    Statement id(*this, "PRAGMA application_id");
    Statement version(*this, "PRAGMA user_version");
    const bool read = id.Next();
    if (!read && sqlite3_errcode(m_db) != SQLITE_NOTADB && sqlite3_errcode(m_db) != SQLITE_CORRUPT) {
        // Not a verdict on the record: it could not be read just now (a full disk, say).
        why = Refusal::Unusable;
        return Failure{path + " cannot be read just now: " + Error()};
    }
    if (!read || id.Int(0) != kApplicationId) {
        why = Refusal::NotOurs;
        return Failure{path + " is not a record of update runs of this program (or it is damaged)"};
    }
    if (!version.Next() || version.Int(0) > kFormatVersion) {
        why = Refusal::NewerFormat;
        return Failure{path + " was written by a newer version of the program"};
    }
    if (version.Int(0) < kFormatVersion) {
        why = Refusal::OlderFormat;
        return Failure{
            path +
            " was written by an earlier version of the program; its runs cannot be undone by this one"};
    }
    Statement check(*this, "PRAGMA quick_check");
    if (!check.Next() || check.Text(0) != "ok") {
        why = Refusal::Damaged;
        return Failure{path + " is damaged"};
    }
    // Nothing acts behind the program's statements: a trigger could drop or undo what it writes.
    Statement extra(*this, "SELECT type, name FROM sqlite_master WHERE type IN ('trigger', 'view') LIMIT 1");
    if (extra.Next()) {
        why = Refusal::Damaged;
        return Failure{path + " is damaged: it holds the " + extra.Text(0) + " \"" + extra.Text(1) +
                       "\", which this program never makes"};
    }
    // Its tables hold every column this program reads and writes: a record whose schema was
    // changed would answer questions wrongly (a missing column, for one, reads as nothing at all).
    for (const auto& [table, columns] : kTableColumns) {
        Statement info(*this, (std::string("PRAGMA table_info(") + table + ")").c_str());
        std::set<std::string> have;
        while (info.Next()) have.insert(info.Text(1));
        if (info.Failed()) {
            why = Refusal::Unusable;
            return Failure{path + " cannot be read just now: " + Error()};
        }
        for (const char* column : columns)
            if (!have.contains(column)) {
                why = Refusal::Damaged;
                return Failure{path + " is damaged: its table " + table + " has no column " + column};
            }
    }
    return {};
}

RecordDatabase::~RecordDatabase() { sqlite3_close_v2(m_db); }

void RecordDatabase::NoteError() {
    m_error = sqlite3_errmsg(m_db);
}

bool RecordDatabase::Exec(const char* sql) {
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK) return true;
    NoteError();
    return false;
}

int64_t RecordDatabase::LastInsertId() const {
    return sqlite3_last_insert_rowid(m_db);
}

int64_t RecordDatabase::ChangedRows() const { return sqlite3_changes64(m_db); }

std::string RecordDatabase::Setting(const std::string& key, const std::string& byDefault) {
    std::string value;
    return ReadSetting(key, value) && !value.empty() ? value : byDefault;
}

bool RecordDatabase::ReadSetting(const std::string& key, std::string& value) {
    Statement query(*this, "SELECT value FROM settings WHERE key=?1");
    query.Bind(1, key);
    value = query.Next() ? query.Text(0) : std::string();
    return !query.Failed();
}

bool RecordDatabase::SetSetting(const std::string& key, const std::string& value) {
    Statement update(*this, "INSERT OR REPLACE INTO settings(key, value) VALUES(?1, ?2)");
    return update.Bind(1, key).Bind(2, value).Run();
}

RecordDatabase::Transaction::Transaction(RecordDatabase& db) : m_db(db) {
    m_active = db.Exec("BEGIN IMMEDIATE");
}

RecordDatabase::Transaction::~Transaction() {
    if (m_active) m_db.Exec("ROLLBACK");
}

bool RecordDatabase::Transaction::Commit() {
    if (!m_active) return false;
    m_active = false;
    if (m_db.Exec("COMMIT")) return true;
    const std::string error = m_db.Error();
    m_db.Exec("ROLLBACK");
    m_db.m_error = error;
    return false;
}

RecordDatabase::Statement::Statement(RecordDatabase& db, const char* sql) : m_db(db) {
    if (sqlite3_prepare_v2(db.m_db, sql, -1, &m_stmt, nullptr) != SQLITE_OK) {
        db.NoteError();
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
        m_failed = true;
    }
}

RecordDatabase::Statement::~Statement() {
    sqlite3_finalize(m_stmt);
}

RecordDatabase::Statement& RecordDatabase::Statement::Bind(int index, int64_t value) {
    if (m_stmt) sqlite3_bind_int64(m_stmt, index, value);
    return *this;
}

RecordDatabase::Statement& RecordDatabase::Statement::Bind(int index, std::string_view text) {
    if (m_stmt)
        sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
}

bool RecordDatabase::Statement::Run() {
    if (!m_stmt) return false;
    const int rc = sqlite3_step(m_stmt);
    const bool ok = rc == SQLITE_DONE || rc == SQLITE_ROW;
    if (!ok) m_db.NoteError();
    Reset();
    return ok;
}

bool RecordDatabase::Statement::Next() {
    if (!m_stmt) return false;
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) {
        m_failed = true;
        m_db.NoteError();
    }
    return false;
}

int64_t RecordDatabase::Statement::Int(int column) const {
    return sqlite3_column_int64(m_stmt, column);
}

std::string RecordDatabase::Statement::Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(m_stmt, column)))
                : std::string();
}

bool RecordDatabase::Statement::IsNull(int column) const {
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

void RecordDatabase::Statement::Reset() {
    if (!m_stmt) return;
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

}  // namespace zrx::history
