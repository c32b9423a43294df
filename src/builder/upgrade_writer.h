#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/dialogs.h"
#include "base/outcome.h"
#include "builder/builder_state.h"
#include "kernel/installation.h"

namespace zrx {

class Directory;

// "Build": writes the upgrade libraries, copies the chosen files and writes Upgrade.lst into the
// destination folder (or only the list, with `builder.listOnly`), reads the folder back and, when
// it is what was chosen, seals it (manifest, signature, zip) as the builder's seal says. What came
// of it is in `builder.lastBuild`; every failure has had its box.
void BuildUpgrade(BuilderState& builder, const Environment& env, ui::Dialogs& dialogs, bool askOverwrite);
// The numbers every entry is written with.
void PrepareListValues(BuilderTables& tables);

// The writers of the six upgrade libraries, into the build's destination (builder.destination); the
// sources are read through the installation's held folders (env).
void WritePartLibrary(const BuilderState& builder, const Environment& env, ui::Dialogs& dialogs);
void WriteSymbolLibrary(const BuilderState& builder, const Environment& env, ui::Dialogs& dialogs, bool askOverwrite);
void WriteISymbolLibrary(const BuilderState& builder, const Environment& env, ui::Dialogs& dialogs, bool askOverwrite);
void WritePackageLibrary(const BuilderState& builder, const Environment& env, ui::Dialogs& dialogs, bool askOverwrite);
void WriteSparamLibrary(const BuilderState& builder, const Environment& env, ui::Dialogs& dialogs, bool askOverwrite);
void WriteMparamLibrary(const BuilderState& builder, const Environment& env, ui::Dialogs& dialogs, bool askOverwrite);

// Copies every chosen file under its own name from its source directory into the destination
// folder (`destination`, open): miscellaneous files, then .TAL, .DAT, .SPC and .SBC files. A file
// that could not be copied is named in a box with the reason; returns the names of those not copied.
std::vector<std::string> CopyBuildFiles(const BuilderState& builder, const Directory& destination,
                                        const Environment& env, ui::Dialogs& dialogs);

// Creates a device named `name` from the source device: its texts, supply pins, groups and pins;
// nothing when it cannot be made whole.
std::optional<int32_t> CopyDevice(int32_t source, const std::string& name);

// Writes Upgrade.lst into the build's destination. A failure says why (no destination is open,
// say); no destination chosen writes nothing and is no failure. A record whose name cannot be
// written so that it reads back as itself is left out, and the name added to `refusedNames`.
Outcome WriteUpgradeList(const BuilderState& builder, std::vector<std::string>& refusedNames);

// Whether a source library file name marks "I_" symbols (its first two characters "I_" or "i_").
bool IsISymbolLibrary(const std::string& fileName);

}  // namespace zrx
