#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace zrx::kernel {

// One prepared statement, finalized with the object.
class Statement {
public:
    Statement(sqlite3* db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    bool Valid() const { return m_stmt != nullptr; }
    sqlite3_stmt* Get() { return m_stmt; }
    // Resets the statement for another run and clears its bindings.
    void Reset();

private:
    sqlite3_stmt* m_stmt = nullptr;
};

enum class OpenError {
    None,
    Missing,
    NotALibrary,
    WrongKind,
    NewerFormat,
    Damaged,
    CannotCreate,
    Locked,
    Interrupted,
    Link,
    SideFile,     // its journal, log or index beside it is no regular file
    NameTooLong,  // its name leaves no room for the names of its side files
};

// Paths of the form /proc/self/fd/N/NAME name NAME in the folder the caller holds open as N.
bool IsHandlePath(const std::string& path, int& folder, std::string& name);
// What `path` names, not followed when it is a link (as lstat, through the folder of a handle path).
bool LookAtLibrary(const std::string& path, struct stat& info);

// Called before any library's gathered saves are committed; 0 stops the commit.
using CommitHook = int32_t (*)(void* context);

// One library file: a SQLite database that records its kind and format version, with one row per
// element keyed by name. Every save is one transaction of its own.
class LibraryFile {
public:
    static constexpr int kFormatVersion = 1;
    static constexpr int kApplicationId = 0x5A52584C;  // "ZRXL"
    static constexpr std::chrono::milliseconds kMaxBatchAge{200};
    // A batch is also ended once the saves it keeps for a retry hold this many bytes.
    static constexpr size_t kMaxBatchBytes = 4u << 20;

    // Opens an existing library for reading, or for writing (creating a missing one). Nothing is
    // written to a file that turns out not to be a library of the asked kind. A library that is a
    // symbolic link is never opened. `path` may reach the file through a folder the caller holds
    // open ("/proc/self/fd/N/NAME"): the file then keeps a handle of its own on that folder.
    static std::unique_ptr<LibraryFile> Open(const std::string& path, std::string_view kind, bool write,
                                             OpenError& error);
    ~LibraryFile();
    LibraryFile(const LibraryFile&) = delete;
    LibraryFile& operator=(const LibraryFile&) = delete;

    // The hook run before any library commits its gathered saves (none: nullptr). While it runs,
    // commits do not call it again.
    static void SetCommitHook(CommitHook hook, void* context);

    bool Writable() const { return m_writable; }
    const std::string& Path() const { return m_path; }
    // Lets a file opened for reading be written: its read-only connection is replaced by a
    // read-write one on the same file (refused when the path now holds another file). `check`
    // runs the damage check first. False when the file cannot be written (or is damaged).
    bool MakeWritable(bool check = true);
    const std::string& Kind() const { return m_kind; }
    // Whether the file on disk is still the one this object opened.
    bool SameFileAs(dev_t device, ino_t inode) const { return device == m_device && inode == m_inode; }
    dev_t Device() const { return m_device; }
    ino_t Inode() const { return m_inode; }

    // The stored form of an element, or nothing when it is absent or cannot be read.
    std::optional<std::string> Load(std::string_view name) { return Read(name); }
    // The same without a copy: valid until the next read or write of this file.
    const std::optional<std::string>& Read(std::string_view name);
    // Whether the last Read failed (rather than found no such element); LastError says why.
    bool ReadFailed() const { return m_readFailed; }
    // Saves one element. Saves are gathered into one database transaction (each save atomic in
    // it) that Commit() ends; CommitIfOld() ends it once it has been open for kMaxBatchAge.
    bool Save(std::string_view name, std::string_view data);
    // Removes one element, in the same gathered transaction as the saves. True when the library no
    // longer holds it (also when it never did).
    bool Delete(std::string_view name);
    // Makes the gathered saves durable. Should the whole transaction fail, every save is tried
    // again on its own, and the names of those that still fail are kept for FailedSaves().
    bool Commit();
    void CommitIfOld();
    // Names whose save was reported as done but could not be made durable; taken once.
    std::vector<std::string> TakeFailedSaves();
    // Element names in binary order; read once and kept until the next save.
    const std::vector<std::string>& Names();
    // Forgets the kept names and element (another process may have changed the library meanwhile).
    void ForgetNames() {
        m_names.reset();
        m_cacheValid = false;
    }
    // Returns the file to its resting journal mode (no side files) before it is closed.
    void Settle();

    const std::string& LastError() const { return m_lastError; }

private:
    // A folder handle of the file's own, closed with it.
    struct FolderHandle {
        int fd = -1;
        FolderHandle() = default;
        FolderHandle(FolderHandle&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
        FolderHandle& operator=(FolderHandle&& other) noexcept {
            std::swap(fd, other.fd);
            return *this;
        }
        ~FolderHandle();
    };
    // A private copy of a library read while another program's log lies beside it without its
    // index; removed with the file.
    struct Snapshot {
        std::string folder;
        int lock = -1;  // the folder, locked while it is in use
        ~Snapshot();
    };
    LibraryFile(sqlite3* db, std::string path, std::string kind, bool writable, dev_t device, ino_t inode);
    static sqlite3* OpenConnection(const std::string& path, bool readWrite, std::unique_ptr<Snapshot>* snapshot);
    static OpenError CheckLibrary(sqlite3* db, std::string_view kind);
    void BeginRead();
    void EndRead();
    bool PrepareStatements();

    FolderHandle m_folder;
    std::unique_ptr<Snapshot> m_snapshot;
    sqlite3* m_db;
    std::string m_path;
    std::string m_kind;
    bool m_writable;
    bool m_canWrite = false;   // the file may be written
    bool m_readWrite = false;  // the connection was opened read-write
    dev_t m_device;
    ino_t m_inode;
    std::unique_ptr<Statement> m_select;
    std::unique_ptr<Statement> m_insert;
    std::optional<std::vector<std::string>> m_names;
    bool m_cacheValid = false;  // the element read last, while the read lasts
    std::string m_cachedName;
    std::optional<std::string> m_cachedData;
    bool m_inTransaction = false;  // a write transaction gathering saves
    bool m_inRead = false;         // a read transaction kept across reads (ended like a batch)
    std::chrono::steady_clock::time_point m_transactionStart;
    // The saves (and deletions: no data) of the open transaction, kept to be tried one by one
    // should the transaction fail as a whole.
    std::vector<std::pair<std::string, std::optional<std::string>>> m_pending;
    size_t m_pendingBytes = 0;
    std::unique_ptr<Statement> m_delete;
    bool BeginBatch();
    bool Apply(std::string_view name, const std::optional<std::string>& data);
    std::vector<std::string> m_failedSaves;
    std::string m_lastError;
    bool m_readFailed = false;
};

}  // namespace zrx::kernel
