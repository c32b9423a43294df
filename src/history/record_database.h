#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/directory.h"
#include "base/outcome.h"

struct sqlite3;
struct sqlite3_stmt;

namespace zrx::history {

class ScratchFolder;

// What a change of a run is (the column "what" of the record). An update never makes an index
// file, so 6 is not used.
constexpr int kPartElement = 1, kFile = 2, kLibraryMade = 3, kDirectoryMade = 4, kIndexLine = 5,
              kSymbolElement = 7, kIndexBefore = 8;

// The undo record of an installation: one SQLite file in `.zrxlibug/history/` that holds the
// update runs and, for each, the changes it made to the installation, each recorded before it was
// made. Every statement's failure becomes a false result with Error() saying why; a transaction
// that is not committed is rolled back.
class RecordDatabase {
public:
    static constexpr int kApplicationId = 0x5A52484C;  // "ZRHL"
    // 2: paths relative to the installation's folders, the installation's identity. Records of
    // format 1 named absolute paths and are not used.
    static constexpr int kFormatVersion = 2;

    enum class Mode { ReadOnly, ReadWrite, Create };
    enum class Refusal { None, Missing, NotOurs, OlderFormat, NewerFormat, Damaged, Unusable };
    // Opens the record in `folder` (a folder the caller has checked and holds open; `folderPath`
    // names it in messages), made when `Create`, refusing a file that is not a record of this
    // program, of another format or schema, or damaged. The record is reached through the folder's
    // handle, never through a link. A read-only record is never written, nor is anything made
    // beside it. A failure says why (and `refusal` what kind of refusal it is). A record made here
    // carries `installation`, the installation's identity; `made` tells that it was made now.
    static Result<std::unique_ptr<RecordDatabase>> Open(const Directory& folder,
                                                        const std::string& folderPath, Mode mode,
                                                        Refusal* refusal = nullptr,
                                                        const std::string& installation = {},
                                                        bool* made = nullptr);
    ~RecordDatabase();
    RecordDatabase(const RecordDatabase&) = delete;
    RecordDatabase& operator=(const RecordDatabase&) = delete;

    // One transaction; rolled back unless committed.
    class Transaction {
    public:
        explicit Transaction(RecordDatabase& db);
        ~Transaction();
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;
        bool Active() const { return m_active; }
        bool Commit();

    private:
        RecordDatabase& m_db;
        bool m_active = false;
    };

    // A prepared statement with positional parameters (from 1), reused across calls.
    class Statement {
    public:
        Statement(RecordDatabase& db, const char* sql);
        ~Statement();
        Statement(const Statement&) = delete;
        Statement& operator=(const Statement&) = delete;
        Statement& Bind(int index, int64_t value);
        Statement& Bind(int index, std::string_view text);
        // Runs the statement to the end; false on failure.
        bool Run();
        // Steps to the next row; false at the end or on failure (Failed() tells).
        bool Next();
        bool Failed() const { return m_failed; }
        int64_t Int(int column) const;
        std::string Text(int column) const;
        bool IsNull(int column) const;
        void Reset();

    private:
        RecordDatabase& m_db;
        sqlite3_stmt* m_stmt = nullptr;
        bool m_failed = false;
    };

    bool Exec(const char* sql);
    int64_t LastInsertId() const;
    // The rows the last statement changed.
    int64_t ChangedRows() const;
    const std::string& Error() const { return m_error; }
    // A setting of the record, or the default when it has none.
    std::string Setting(const std::string& key, const std::string& byDefault);
    // A setting ("" when there is none); false, with Error() saying why, when it cannot be read.
    bool ReadSetting(const std::string& key, std::string& value);
    bool SetSetting(const std::string& key, const std::string& value);

private:
    explicit RecordDatabase(sqlite3* db) : m_db(db) {}
    // A private copy of the record read while a log of a killed writer lies beside it without its
    // index (reading it in place would make the index beside it); removed with the object.
    // Whether the file holds no tables and no marks at all (an SQLite file, empty).
    bool IsEmptyDatabase();
    Outcome Check(const std::string& path, Refusal& why);
    void NoteError();

    std::unique_ptr<ScratchFolder> m_snapshot;  // locked, in the system's temporary folder
    sqlite3* m_db;
    std::string m_error;
};

}  // namespace zrx::history
