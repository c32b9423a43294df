#pragma once

#include <cstdint>
#include <string>

#include "apply/run_record_hooks.h"
#include "apply/run_state.h"
#include "base/dialogs.h"
#include "base/outcome.h"
#include "kernel/installation.h"
#include "upgrade_list/loaded_upgrade.h"

namespace zrx {

// Copy the selected parts, symbols and packages of the upgrade's lists from its upgrade libraries
// into the installation's libraries in the library directory; each item's Copied says how it
// went. The status line says what is done.
void TransferParts(const Environment& env, LoadedUpgrade& upgrade, RunState& run, ui::Dialogs& dialogs,
                   ui::StatusLine& status);
void TransferSymbols(const Environment& env, LoadedUpgrade& upgrade, RunState& run, ui::Dialogs& dialogs,
                     ui::StatusLine& status);
void TransferPackages(const Environment& env, LoadedUpgrade& upgrade, RunState& run, ui::Dialogs& dialogs,
                      ui::StatusLine& status);

// Asks before an element is overwritten; the kernel's libraries are made durable first, so that
// no library stays locked while the user thinks.
bool AskBeforeOverwrite(ui::Dialogs& dialogs, const std::string& question);

// After a kernel call on a library failed: when the kernel refused the library itself (not a
// library, damaged, locked, newer), says why, once per library and run, and returns true.
bool NoteRefusedLibrary(RunState& run, ui::Dialogs& dialogs, const std::string& path);
// The same with the reason given.
void NoteRefusedLibrary(RunState& run, ui::Dialogs& dialogs, const std::string& path,
                        const std::string& reason);

// Right before a save: the run's record takes what the save replaces. A failure when the save must
// not be made; what there is to say has been said (a library that cannot be read as a failed save
// with `failureCode` and `failureText`, a record that cannot be written once per reason).
Outcome RecordBeforeSave(RunState& run, ui::Dialogs& dialogs, const RunRecordHooks::ElementSave& save,
                         int32_t failureCode, const std::string& failureText);
// Right after a save was reported done: whether the library holds the element, read back.
bool SavedInPlace(RunState& run, const RunRecordHooks::ElementSave& save);
bool IsRefusedLibrary(const RunState& run, const std::string& path);
// What was said of a library the run refused ("the library ... cannot be used: ..."); "" for one
// it did not refuse.
const std::string& RefusalOf(const RunState& run, const std::string& path);

// Why a row was not copied when the user answered No to overwriting it.
inline constexpr const char* kNotOverwritten = "it is there already, and the answer was not to overwrite it";

}  // namespace zrx
