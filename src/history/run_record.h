#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "apply/run_record_hooks.h"
#include "apply/targets.h"
#include "history/base_store.h"
#include "history/record_database.h"
#include "history/record_folder.h"

namespace zrx {

struct Environment;

namespace history {

class RecordDatabase;

// The folder of an installation's undo record: ".zrxlibug/history" beside its INI file.
std::string HistoryFolder(const Environment& env);

// The record of one update run, written by the run as it goes: each step tells it of a change
// right before making it (RunRecordHooks), at the path it writes; the record takes what is there
// (old elements into libraries of the run's own folder, old files copied or linked there) and
// makes that durable before the change is: before the kernel commits any library's saves (its
// commit hook), before staged files are renamed into place, before a folder is made or an index
// file replaced. Nothing is predicted from the lists: a row that changes nothing records nothing,
// and a target that two rows reach is recorded once, as it was before the run.
class RunRecorder : public RunRecordHooks {
public:
    // What was known of the upgrade a run came from: its state (signed, intact, unverified) and
    // the key that signed it.
    struct Origin {
        std::string folder, verification, signer;
    };
    // Begins a run's record; a failure says why it cannot be recorded, and then nothing of the
    // installation may be changed. The origin is shown by the history.
    static Result<std::unique_ptr<RunRecorder>> Begin(const Environment& env, const Origin& origin);
    ~RunRecorder() override;
    RunRecorder(const RunRecorder&) = delete;
    RunRecorder& operator=(const RunRecorder&) = delete;

    int64_t Id() const { return m_run; }
    // Why the record stopped taking changes (a full disk, say); "" while it works.
    const std::string& Problem() const { return m_failure; }
    // Why what the run installs cannot be kept as the base of later merges ("" when it can); the
    // run and its undo go on without it.
    const std::string& BasesProblem() const { return m_basesProblem; }

    SaveVerdict BeforeElementSave(const ElementSave& save) override;
    bool AfterElementSave(const ElementSave& save) override;
    void ElementSaveFailed(const ElementSave& save) override;
    Outcome BeforeFolderMade(const std::string& path) override;
    Result<int64_t> StageFileChange(const FileChange& change) override;
    Outcome CommitStaged() override;
    void AfterFileChange(int64_t ticket, const struct stat* written, const std::string& digest) override;
    Outcome BeforeIndexSave(const Target& target, const std::vector<std::string>& lines) override;
    bool BeforeIndexReplace(const std::string& path, const struct stat& written) override;

    // After the run (its libraries flushed; `failed` the saves that did not become durable): what
    // did not happen after all is dropped, the run is marked complete, and only then are runs
    // beyond the number kept dropped. A run that changed nothing leaves no record. Returns the
    // run's number, or 0.
    int64_t Finish(const std::vector<FailedSave>& failed);

private:
    RunRecorder(const Environment& env, RecordFolder folder, std::unique_ptr<RecordDatabase> db, int64_t run,
                Directory runFolder, Directory files);
    static int32_t CommitHook(void* recorder);
    // Makes everything recorded so far durable: the kept elements, the record's rows.
    bool MakeDurable();
    // Stops the record taking changes, for `why` (the first reason stays); false.
    bool Fail(const std::string& why);
    // The record takes changes: a transaction is open. A failure says why it stopped.
    Outcome Ready();
    // The phases of Finish, each true when every statement it made succeeded.
    bool DropSavesThatChangedNothing(const std::vector<FailedSave>& failed);
    bool DropIndexFilesNotReplaced();
    bool DropWhatWasNotMade();
    bool FoldSavesIntoReplacedFiles();
    // The run's changes that `condition` (SQL on the changes table) picks, by number and place;
    // nothing when the record cannot be read.
    using ChangePlaces = std::vector<std::pair<int64_t, Place>>;
    std::optional<ChangePlaces> ChangedPlaces(const char* condition);
    // Drops the oldest runs beyond the number kept; whether any went.
    bool MakeRoom();
    // Notes that change `id` saved a merge, whose base is `offered` (or, with "", that it did not).
    void NoteMerge(int64_t id, const std::string& offered);
    // A change's row (`library`: the identity of a library written through a link), numbered and
    // written; with `waitForNew`, kept back to be written with the new digest (AfterElementSave)
    // or before the record commits, whichever comes first. Its number, or 0.
    int64_t AddChange(int what, const Place& place, const std::string& name, bool created, bool link,
                      const struct stat* library = nullptr, bool waitForNew = false);
    struct Row {
        int64_t id;
        int what;
        Place place;
        std::string name;
        bool created, link, library;
        int64_t device, inode;
    };
    // Writes a row, with the digest of what the change left when it is known; false (the record
    // stopped) when it cannot.
    bool WriteRow(const Row& row, const std::string& newDigest);
    bool WriteWaitingRows();
    // A target library as the run's saves find it: its place, whether it is there, and whether it
    // is a link to the library file (whose identity is kept). Looked at again until it exists.
    struct RecordedLibrary {
        Place place;
        // Where the saves go (where a link leads), held open, its real path, as failed saves name it.
        std::shared_ptr<const Directory> folder;
        std::string name, realPath;
        bool exists = false, link = false;
        bool part = false;  // a part library, else one of the symbol kind
        struct stat file {};
        // Its elements recorded in this run, by name: their change numbers.
        std::unordered_map<std::string, int64_t> elements;
    };
    // `refused` tells a target that is no library file (nothing can be saved into it).
    Result<RecordedLibrary*> LibraryOf(const Target& target, bool* refused);
    // Keeps a copy of the file `name` in `dir` under the change's number; its digest.
    Result<std::string> KeepFile(const Directory& dir, const std::string& name, const struct stat& info,
                                 int64_t id);
    // A reading handle of `name` in `folder`, opened once per `key`.
    int32_t ReadHandle(const Directory& folder, const std::string& name, const std::string& key, bool part);
    int32_t& OldLibrary(bool part);
    void SetNew(int64_t id, const std::string& digest, const struct stat* identity);
    // What was there before a change: the kept copy's digest and the identity of what it replaces.
    bool SetOld(int64_t id, const std::string& digest, const FileIdentity& old);

    const Environment& m_env;
    RecordFolder m_folder;
    std::unique_ptr<RecordDatabase> m_db;
    int64_t m_run;
    Directory m_runFolder, m_files;
    bool m_inTransaction = false;
    std::string m_failure;
    std::unordered_map<std::string, int32_t> m_readHandles;  // libraries read, by their keys
    int32_t m_oldParts = 0, m_oldSymbols = 0;                // the run's own libraries of old elements
    // The files and index files the run has recorded already, by place (elements: by library):
    // its first change to each is what counts.
    std::unordered_map<std::string, int64_t> m_recorded;
    std::unordered_set<std::string> m_librariesMade;
    std::vector<FailedSave> m_refusedSaves;  // saves the kernel refused (ElementSaveFailed)
    std::unordered_map<std::string, RecordedLibrary> m_libraries;
    std::unique_ptr<RecordDatabase::Statement> m_add, m_setNew, m_noteMerge, m_dropMerge;
    int64_t m_nextId = 0;        // the next change's number; 0 until the record was asked
    std::vector<Row> m_waiting;  // element rows waiting for the digest after their save
    // File changes staged and not yet told how they ended, by ticket: their keys in m_recorded.
    std::unordered_map<int64_t, std::string> m_stagedKeys;
    bool m_makingDurable = false;
    // What the run installs, kept as the base of later merges; a store that cannot be made keeps
    // nothing (the run goes on: its undo does not need it).
    BaseStore m_bases;
    std::string m_basesProblem;
    std::unordered_set<int64_t> m_merged;  // changes that saved a merge
};

}  // namespace history
}  // namespace zrx
