#pragma once

#include <string>

namespace zrx {

class App;

// OK on the load page: loads the chosen folder's Upgrade.lst (or, in builder mode, reloads it
// into the builder).
void F_lstok_Click(App& app);
// Loads an upgrade (a folder, or an archive file) as OK does: checked, read, its grid filled and
// shown on the selection page. False when nothing of it is offered; a box has said why.
bool LoadUpgrade(App& app, const std::string& folderOrArchive);
void F_lstdir_Change(App& app);
void F_lstDrive_Change(App& app);

void ConnectLoadPage(App& app);

// The selection page: the overwrite options, and the grid's Update cells.
void F_OverPrompt_Click(App& app, int index);
void ConnectSelectionGrid(App& app);

}  // namespace zrx
