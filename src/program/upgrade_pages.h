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
// Builder mode: after the confirmation, reloads an upgrade's list (a folder, or an archive file)
// into the builder, checked as any load is, and shows the builder's lists. False when it was
// declined, or when the list could not be reloaded whole (a box has said why).
bool ReloadIntoBuilder(App& app, const std::string& folderOrArchive);
void F_lstdir_Change(App& app);
void F_lstDrive_Change(App& app);

void ConnectLoadPage(App& app);

// The selection page: the overwrite options, and the grid's Update cells.
void F_OverPrompt_Click(App& app, int index);
void ConnectSelectionGrid(App& app);

}  // namespace zrx
