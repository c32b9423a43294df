#pragma once

#include <string>
#include <vector>

#include "base/dialogs.h"
#include "builder/builder_state.h"
#include "kernel/installation.h"
#include "ui/forms/main_form.h"

namespace zrx {

class Directory;

// The builder's file kinds, by their frame (F_Details) index.
enum BuilderFileKind : int { kSbcFiles = 5, kTalFiles = 6, kDatFiles = 7, kSpcFiles = 8, kMiscFiles = 9 };

// ">>" of a file frame: the selected files into the chosen list and table.
void MoveChosenFiles(BuilderState& builder, ui::MainForm& m, const Environment& env, ui::Dialogs& dialogs,
                     int fileKind);
// "<<" of a file frame.
void RemoveChosenFile(BuilderState& builder, ui::MainForm& m, int fileKind);

void F_MiscDir_Change(ui::MainForm& m, const Environment& env);
void F_Miscdrive_Change(ui::MainForm& m, const Environment& env);
void F_sbcdir_Change(ui::MainForm& m);
void F_sbcdrive_Change(ui::MainForm& m);
// Enter in the description box trims its text; the key goes on unchanged.
int F_Filedesc_KeyPress(ui::MainForm& m, int key);
void F_Filedesc_LostFocus(ui::MainForm& m);

// The text after the last separator of a path ("" when there is none after it).
std::string LastPathComponent(const std::string& path);

// Copies every chosen file under its own name from its source directory into the destination
// folder (`destination`, open): miscellaneous files, then .TAL, .DAT, .SPC and .SBC files. A file
// that could not be copied is named in a box with the reason; returns the names of those not copied.
std::vector<std::string> CopyBuildFiles(const BuilderState& builder, const Directory& destination,
                                        const Environment& env, ui::Dialogs& dialogs);

}  // namespace zrx
