#pragma once

#include <string>

namespace zrx {

class App;

// Connects the main window's buttons and menus to their handlers.
void ConnectMainWindow(App& app);

// The view-switching handlers of the main window's own buttons and menus.
void F_Proceed_Click(App& app);
void F_Cancel_Click(App& app);
void F_Exit_Click(App& app);
void F_Terminate_Click(App& app);
void M_exit_Click(App& app);
void F_Info_Click(App& app);
void F_Help_Click(App& app);
void M_Build_Click(App& app);
void M_Upgload_Click(App& app);
void M_Fileitems_Click(App& app, int index);

// Opens the program's help file at its contents.
void ShowHelp(App& app);
// The help file: ZRXLIBUG.HLP beside the executable.
const char* HelpFileName();
// Where the help file is: beside the program, else in the installation's data directory
// (share/zrxlibug beside the program's bin).
std::string HelpFilePath(const std::string& serverPath);

}  // namespace zrx
