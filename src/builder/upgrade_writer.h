#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/dialogs.h"
#include "builder/builder_state.h"
#include "kernel/installation.h"
#include "ui/forms/main_form.h"

namespace zrx {

// "Build": writes the upgrade libraries, copies the chosen files and writes Upgrade.lst into the
// destination folder (or only the list, with "Create Upgrade.lst file only").
void F_Create_Click(BuilderState& builder, ui::MainForm& m, const Environment& env, ui::Dialogs& dialogs,
                    bool askOverwrite);
// The numbers every entry is written with.
void PrepareListValues(BuilderTables& tables);

// The writers of the six upgrade libraries, into the build's destination (builder.destination); the
// sources are read through the installation's held folders (env).
void WritePartLibrary(const BuilderState& builder, const ui::MainForm& m, const Environment& env,
                      ui::Dialogs& dialogs);
void WriteSymbolLibrary(const BuilderState& builder, const ui::MainForm& m, const Environment& env,
                        ui::Dialogs& dialogs, bool askOverwrite);
void WriteISymbolLibrary(const BuilderState& builder, const ui::MainForm& m, const Environment& env,
                         ui::Dialogs& dialogs, bool askOverwrite);
void WritePackageLibrary(const BuilderState& builder, const ui::MainForm& m, const Environment& env,
                         ui::Dialogs& dialogs, bool askOverwrite);
void WriteSparamLibrary(const BuilderState& builder, const ui::MainForm& m, const Environment& env,
                        ui::Dialogs& dialogs, bool askOverwrite);
void WriteMparamLibrary(const BuilderState& builder, const ui::MainForm& m, const Environment& env,
                        ui::Dialogs& dialogs, bool askOverwrite);

// Creates a device named `name` from the source device: its texts, supply pins, groups and pins.
void CopyDevice(int32_t& errorFlag, int32_t source, int32_t& device, const std::string& name);

// Writes Upgrade.lst into the build's destination under the list caption's name. False, with the
// reason, when it could not be written (no destination is open, say); an empty caption writes
// nothing and is no failure. A record whose name cannot be
// written so that it reads back as itself is left out, and the name added to `refusedNames`.
bool WriteUpgradeList(const BuilderState& builder, const ui::MainForm& m, std::string& error,
                      std::vector<std::string>& refusedNames);

// Whether a source library file name marks "I_" symbols (its first two characters "I_" or "i_").
bool IsISymbolLibrary(const std::string& fileName);

}  // namespace zrx
