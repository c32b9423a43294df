#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/outcome.h"

namespace zrx {

struct Environment;

namespace history {

// A recorded update run as the history shows it.
struct RunSummary {
    int64_t id = 0;
    std::string started, ended, folder;
    std::string state;  // complete, interrupted, rolling back, rolled back, partly rolled back
    int64_t elements = 0, files = 0;
    std::string verification, signer;  // what was known of the upgrade folder, where anything was
};

// The recorded runs, newest first; an installation without a record has none. A failure when the
// record cannot be read.
Result<std::vector<RunSummary>> ListRuns(const Environment& env);
// How many runs the record keeps (from the next run on).
Outcome SetKeep(const Environment& env, int keep);
int KeptRuns(const Environment& env);

// An element (by its library's path and its name) or a file (by its path, no element) a run changed.
struct ChangedPlace {
    std::string path, element;
};

struct RollbackResult {
    enum class Outcome { Restored, Conflicts, NothingDone };
    Outcome outcome = Outcome::NothingDone;
    int64_t run = 0;
    size_t restored = 0;                 // elements, files and index lines brought back
    // Recorded changes found as they were before the run (a save that never reached the disk,
    // one somebody took back since): nothing to bring back.
    size_t asBefore = 0;
    std::vector<std::string> conflicts;  // what was changed after the run and left alone
    std::string message;                 // why nothing was done
    // The run's elements and files by what became of them: taken back, or still as the run (or
    // somebody since) left them.
    std::vector<ChangedPlace> undone, left;
};

// Brings back what a recorded run changed: replaced elements and files to their previous content,
// created ones removed, the lines it added to the index files removed, the libraries and
// subdirectories it made removed when they are empty again. An element or file changed after the
// run is a conflict: left alone and named, unless `force`. Without `run`, the newest run not
// rolled back. Runs are rolled back newest first: a newer run that changed the same elements or
// files and still stands is named and nothing is done. Takes the installation's lock unless the
// caller holds it (`lockHeld`). A rollback that is interrupted can be run again and completes.
RollbackResult Rollback(const Environment& env, std::optional<int64_t> run, bool force,
                        bool lockHeld = false);

}  // namespace history
}  // namespace zrx
