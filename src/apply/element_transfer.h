#pragma once

#include <cstdint>
#include <string>

#include "apply/run_record_hooks.h"

namespace zrx {

class App;

// Copy the selected parts, symbols and packages from the upgrade libraries into the user's
// libraries in the library directory.
void TransferParts(App& app);
void TransferSymbols(App& app);
void TransferPackages(App& app);

// Asks before an element is overwritten; the kernel's libraries are made durable first, so that
// no library stays locked while the user thinks.
bool AskBeforeOverwrite(App& app, const std::string& question);

// After a kernel call on a library failed: when the kernel refused the library itself (not a
// library, damaged, locked, newer), says why, once per library and run, and returns true.
bool NoteRefusedLibrary(App& app, const std::string& path);
// The same with the reason given.
void NoteRefusedLibrary(App& app, const std::string& path, const std::string& reason);

// Right before a save: the run's record takes what the save replaces. False when the save must
// not be made; what there is to say has been said (a library that cannot be read as a failed save
// with `failureCode` and `failureText`, a record that cannot be written once per reason).
bool RecordBeforeSave(App& app, const RunRecordHooks::ElementSave& save, int32_t failureCode,
                      const std::string& failureText);
// Right after a save was reported done: whether the library holds the element, read back.
bool SavedInPlace(App& app, const RunRecordHooks::ElementSave& save);
bool IsRefusedLibrary(const App& app, const std::string& path);

}  // namespace zrx
