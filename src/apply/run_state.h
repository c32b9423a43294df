#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace zrx {

class RunRecordHooks;
namespace history {
class InstalledBases;
}

// The update run: its overwrite options, how far it has come, what it met, and its undo record.
struct RunState {
    // The overwrite options.
    bool AskOverwrite = false;
    bool OverwriteAll = true;
    bool SummaryFinished = false;
    // Rows whose installed element or file was edited here since the last upgrade are left as they
    // are, whatever their Update says (the summary says they were kept).
    bool KeepEdited = false;
    // Rows edited here since the last upgrade and changed by this one are merged: what the last
    // upgrade installed, the installed element or file, and the upgrade's (a conflict is not copied).
    bool MergeEdited = false;
    // While a run merges: what the runs before it installed, read when it began.
    history::InstalledBases* bases = nullptr;

    // The undo record of the run while it runs (none outside a run): it keeps the old elements and
    // files, and is told of every index file the run rewrites.
    RunRecordHooks* runRecord = nullptr;
    // How far the run has come: its selected elements and files, and those dealt with.
    struct RunProgress {
        size_t done = 0, total = 0;
    } runProgress;
    // The number of the last recorded run, 0 when the last run changed nothing.
    int64_t lastRunId = 0;

    // Libraries the kernel refused during the current run (damaged, locked, not a library), each
    // reported once: by path, what was said of it.
    std::map<std::string, std::string> refusedLibraries;
    // Why changes of the current run could not be recorded for undo, each said once.
    std::set<std::string> unrecordedReasons;
};

}  // namespace zrx
