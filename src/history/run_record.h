#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "apply/index_files.h"

namespace zrx {

struct Environment;
struct UpgradeLists;

namespace history {

class RecordDatabase;

// The folder of an installation's undo record: ".zrxlibug/history" beside its INI file.
std::string HistoryFolder(const Environment& env);
// The current time, UTC, as ISO 8601 ("2026-12-08T00:12:25Z").
std::string NowUtc();

// What an update run works on: the installation, the upgrade folder and its libraries, and the
// per-kind lists as the run's selection rebuilt them.
struct RunInputs {
    const Environment& env;
    const std::string& listPath;
    const std::array<std::string, 6>& upgradeLibraries;
    const UpgradeLists& lists;
};

// The record of one update run, written ahead of the run: before anything is changed, every
// change the run may make is recorded durably (old elements copied into libraries of the run's
// own folder, old files linked or copied there, what the run would create); after the run, what it
// did not change is dropped again. A crash at any moment leaves a record that holds every change
// that reached the installation.
class RunRecorder : public RunRecordHooks {
public:
    // Records the run; nothing (and `error` says why) when it cannot be recorded, and then nothing
    // of the installation may be changed.
    static std::unique_ptr<RunRecorder> Begin(const RunInputs& inputs, std::string& error);
    ~RunRecorder() override;
    RunRecorder(const RunRecorder&) = delete;
    RunRecorder& operator=(const RunRecorder&) = delete;

    int64_t Id() const { return m_run; }
    // Before an index file is rewritten: the lines the run adds to it, whether the run makes the
    // file, and the file as it was (linked into the run's folder). False (with why) when they
    // cannot be recorded: the file must not be written then.
    bool BeforeIndexSave(const std::string& path, const std::vector<std::string>& lines, bool makesFile,
                         std::string& error) override;
    // Once it is written and before it replaces the old one: the new file's identity, so that a
    // rollback can tell whether anybody changed it since (then only the added lines are taken
    // out). False when that cannot be recorded: the new file must not replace the old one then.
    bool BeforeIndexReplace(const std::string& path, const struct stat& written) override;
    // After the run: what it did not change (a No, a failure) is dropped and the run marked
    // complete. A run that changed nothing leaves no record. Returns the run's number, or 0.
    int64_t Finish(const UpgradeLists& lists);

private:
    struct Intent {
        int64_t id;
        int kind;      // 1 to 6 as in the lists; 0 for libraries and directories made
        size_t index;  // in its list
        bool created;
    };
    // A SPARAM model's outcome is read back from its library (the run saves a model even when its
    // texts cannot be read): the target library, the saved name and the digest of what the run
    // saves, by the change's number.
    struct SavedModel {
        std::string library, name, digest;
    };
    RunRecorder(std::unique_ptr<RecordDatabase> db, int64_t run, std::string folder);

    std::unique_ptr<RecordDatabase> m_db;
    int64_t m_run;
    std::string m_folder;  // the run's own folder
    std::vector<Intent> m_intents;
    std::unordered_map<int64_t, SavedModel> m_savedModels;
};

}  // namespace history
}  // namespace zrx
