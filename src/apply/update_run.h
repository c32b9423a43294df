#pragma once

#include <string>
#include <vector>

#include "apply/run_record_hooks.h"
#include "apply/run_report.h"
#include "apply/run_state.h"
#include "base/dialogs.h"
#include "kernel/installation.h"
#include "upgrade_list/loaded_upgrade.h"

namespace zrx {

struct UpgradeVerification;

// The update run over the upgrade's lists as the selection made them (CollectSelection), while the
// caller holds the installation's lock and the busy pointer is on: counts the rows it will deal
// with, removes what killed runs left, begins the run's record, runs the steps, makes the saves
// durable, ends the record and reports what became of each offered row. A run whose record cannot
// be begun changes nothing: a box says why, and the report says it did not run.
RunReport RunUpdate(const Environment& env, LoadedUpgrade& upgrade, const UpgradeVerification& verification,
                    RunState& run, ui::Dialogs& dialogs, ui::StatusLine& status);

// The steps of an update run in their fixed order: the loose files, the subcircuit index, the
// parts, symbols, packages and mixed-mode models (when the library directory is there), the
// simulator models and the model index. Each item of the upgrade's lists says whether it was
// copied; the run's record (in `run`) is told of every change before it is made.
void RunUpdateSteps(const Environment& env, LoadedUpgrade& upgrade, RunState& run, ui::Dialogs& dialogs,
                    ui::StatusLine& status);

// Every element of the six lists not copied (yet).
void ResetCopyStatus(UpgradeLists& lists);

// One more selected element or file dealt with by the run: shown as "i of n" beside the status.
void CountRunElement(RunState& run, ui::Dialogs& dialogs, const ui::StatusLine& status);

// A change the run's record could not take (and that was therefore not made): said once per reason
// and run.
void NoteNotRecorded(RunState& run, ui::Dialogs& dialogs, const std::string& why);

// Saves the kernel reported done that did not reach the disk: the elements they belong to (by
// their kind's target library, resolved as the run does, and their name) are not copied after all;
// one box names them.
void MarkLostSaves(UpgradeLists& lists, const Environment& env, ui::Dialogs& dialogs,
                   const std::vector<FailedSave>& failed);
// Makes the kernel's saves durable; those it reported done but could not make durable (a full
// disk, say) are marked and reported by MarkLostSaves. Returns them, for the run's record.
std::vector<FailedSave> CheckSavesAreDurable(UpgradeLists& lists, const Environment& env,
                                             ui::Dialogs& dialogs);

}  // namespace zrx
