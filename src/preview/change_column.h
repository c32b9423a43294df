#pragma once

#include <vector>

#include "preview/change_preview.h"

namespace zrx {

class App;
struct Environment;
class GridRowTable;
namespace ui {
class Dialogs;
class Grid;
struct UiFont;
}  // namespace ui

// The selection grid's sixth column, "Change": works out what each offered row of `rows` would do
// to the installation and shows it in `grid`. Shows progress and lets window events through while
// it compares.
preview::RowChanges ShowChangeColumn(ui::Grid& grid, ui::Dialogs& dialogs, const ui::UiFont& font,
                                     const GridRowTable& rows, const Environment& env,
                                     const preview::UpgradeFolder& upgrade);

// "Set unchanged rows to NO": every offered row whose change is "same" is set to NO; nothing else
// changes.
void P_SameToNo_Click(ui::Grid& grid, const preview::RowChanges& changes);

// Works the loaded list's changes out and shows them: when a list has been loaded, and again when
// the grid is shown after an update run or an undo (which set `App::rowChangesStale`).
void RefreshChangeColumn(App& app);

void ConnectPreview(App& app);

}  // namespace zrx
