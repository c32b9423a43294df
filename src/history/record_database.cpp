#include "history/record_database.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

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

// Makes a new, empty record whole in a temporary file beside it and only then gives it its name, so
// that a program killed on the way never leaves a file under the record's name that is no record.
bool CreateRecordFile(const std::string& path, const std::string& installation, std::string& error) {
    std::string temp = path + ".zrxtmp-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        error = path + " cannot be made: " + std::strerror(errno);
        return false;
    }
    ::close(fd);
    sqlite3* db = nullptr;
    // Made in write-ahead logging, which it keeps: its journal mode never changes after it has its
    // name, so that no program stopped at any moment leaves it half-switched. It carries the
    // installation's identity from the start.
    const std::string schema =
        "PRAGMA journal_mode=WAL;PRAGMA synchronous=FULL;BEGIN;PRAGMA application_id=" +
        std::to_string(RecordDatabase::kApplicationId) +
        ";PRAGMA user_version=" + std::to_string(RecordDatabase::kFormatVersion) + ";" + kSchema + "COMMIT;";
    bool ok = sqlite3_open_v2(temp.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) ==
                  SQLITE_OK &&
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
    if (ok && ::lstat((temp + "-wal").c_str(), &log) == 0 && log.st_size > 0) {
        error = path + " cannot be made: its first contents did not reach the disk (is it full?)";
        ok = false;
    }
    // A record that another program made meanwhile is kept; this one goes.
    if (ok && ::link(temp.c_str(), path.c_str()) != 0 && errno != EEXIST) {
        error = path + " cannot be made: " + std::strerror(errno);
        ok = false;
    }
    for (const char* side : {"", "-wal", "-shm"}) ::unlink((temp + side).c_str());
    return ok;
}

// The record as a URI: read-only, it is read without writing anything beside it. With no
// write-ahead log beside it nobody is writing it, and it is read as it stands; with one, the log's
// shared index is only read.
std::string ReadOnlyUri(const std::string& path, bool readOnly) {
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
    if (!readOnly) return uri;
    struct stat info {};
    if (::lstat((path + "-wal").c_str(), &info) != 0) return uri + "?immutable=1";
    if (::lstat((path + "-shm").c_str(), &info) == 0) return uri + "?readonly_shm=1";
    return uri;
}

}  // namespace

std::unique_ptr<RecordDatabase> RecordDatabase::Open(const std::string& folder, Mode mode, std::string& error,
                                                     Refusal* refusal, const std::string& installation) {
    Refusal ignored = Refusal::None;
    Refusal& why = refusal ? *refusal : ignored;
    why = Refusal::Unusable;
    const std::string path = folder + "/" + kFileName;
    struct stat info {};
    const bool exists = ::lstat(path.c_str(), &info) == 0;
    if (!exists && mode != Mode::Create) {
        error = "there is no record of update runs in " + folder;
        why = Refusal::Missing;
        return nullptr;
    }
    if (exists && !S_ISREG(info.st_mode)) {
        error = path + " is not a record of update runs";
        why = Refusal::NotOurs;
        return nullptr;
    }
    if (mode == Mode::Create) {
        // What a creation that was killed left behind.
        namespace fs = std::filesystem;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(folder, ec))
            if (entry.path().filename().string().starts_with(std::string(kFileName) + ".zrxtmp-"))
                fs::remove(entry.path(), ec);
        if (!exists && !CreateRecordFile(path, installation, error)) return nullptr;
    }
    sqlite3* db = nullptr;
    const int flags = (mode == Mode::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) |
                      SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_URI;
    if (sqlite3_open_v2(ReadOnlyUri(path, mode == Mode::ReadOnly).c_str(), &db, flags, nullptr) != SQLITE_OK) {
        error = path + " cannot be opened: " + (db ? sqlite3_errmsg(db) : "out of memory");
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, 5000);
    auto record = std::unique_ptr<RecordDatabase>(new RecordDatabase(db));
    // The checks' statements end before the journal mode can change.
    if (!record->Check(path, error, why)) {
        // A database with nothing in it at all is a record whose making failed on a full disk
        // before the program looked out for that: nothing is lost when it is made anew.
        if (mode == Mode::Create && why == Refusal::NotOurs && record->IsEmptyDatabase()) {
            record.reset();
            for (const char* side : {"", "-wal", "-shm"}) ::unlink((path + side).c_str());
            return Open(folder, mode, error, refusal, installation);
        }
        return nullptr;
    }
    // Every commit reaches the disk before the changes it records are made.
    if (mode != Mode::ReadOnly) record->Exec("PRAGMA synchronous=FULL");
    why = Refusal::None;
    return record;
}

bool RecordDatabase::IsEmptyDatabase() {
    Statement id(*this, "PRAGMA application_id");
    Statement version(*this, "PRAGMA user_version");
    Statement tables(*this, "SELECT COUNT(*) FROM sqlite_master");
    return id.Next() && id.Int(0) == 0 && version.Next() && version.Int(0) == 0 && tables.Next() && tables.Int(0) == 0;
}

bool RecordDatabase::Check(const std::string& path, std::string& error, Refusal& why) {
    Statement id(*this, "PRAGMA application_id");
    Statement version(*this, "PRAGMA user_version");
    const bool read = id.Next();
    if (!read && sqlite3_errcode(m_db) != SQLITE_NOTADB && sqlite3_errcode(m_db) != SQLITE_CORRUPT) {
        // Not a verdict on the record: it could not be read just now (a full disk, say).
        error = path + " cannot be read just now: " + Error();
        why = Refusal::Unusable;
        return false;
    }
    if (!read || id.Int(0) != kApplicationId) {
        error = path + " is not a record of update runs of this program (or it is damaged)";
        why = Refusal::NotOurs;
        return false;
    }
    if (!version.Next() || version.Int(0) > kFormatVersion) {
        error = path + " was written by a newer version of the program";
        why = Refusal::NewerFormat;
        return false;
    }
    if (version.Int(0) < kFormatVersion) {
        error = path + " was written by an earlier version of the program; its runs cannot be undone by this one";
        why = Refusal::OlderFormat;
        return false;
    }
    Statement check(*this, "PRAGMA quick_check");
    if (!check.Next() || check.Text(0) != "ok") {
        error = path + " is damaged";
        why = Refusal::Damaged;
        return false;
    }
    return true;
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
