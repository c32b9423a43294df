#pragma once

#include <string>
#include <vector>

namespace zrx {

class App;

// The builder's file kinds, by their frame (F_Details) index.
enum BuilderFileKind : int { kSbcFiles = 5, kTalFiles = 6, kDatFiles = 7, kSpcFiles = 8, kMiscFiles = 9 };

// ">>" of a file frame: the selected files into the chosen list and table.
void MoveChosenFiles(App& app, int fileKind);
// "<<" of a file frame.
void RemoveChosenFile(App& app, int fileKind);

void F_MiscDir_Change(App& app);
void F_Miscdrive_Change(App& app);
void F_sbcdir_Change(App& app);
void F_sbcdrive_Change(App& app);
// Enter in the description box trims its text; the key goes on unchanged.
int F_Filedesc_KeyPress(App& app, int key);
void F_Filedesc_LostFocus(App& app);

// The text after the last separator of a path ("" when there is none after it).
std::string LastPathComponent(const std::string& path);

// Copies every chosen file under its own name from its source directory into the destination
// folder: miscellaneous files, then .TAL, .DAT, .SPC and .SBC files. A file that could not be
// copied is named in a box with the reason; returns the names of those not copied.
std::vector<std::string> CopyBuildFiles(App& app);

}  // namespace zrx
