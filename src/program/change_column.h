#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "preview/change_preview.h"

namespace zrx {

class Directory;
struct Environment;
class GridRowTable;
namespace ui {
class Dialogs;
class Grid;
class MainForm;
struct UiFont;
}  // namespace ui

// The selection grid's sixth column, "Change", and the changes it shows: what each offered row of
// the loaded list would do to the installation. They are worked out when a list is loaded, and
// again when the grid is shown after an update run or an undo has marked them stale.
class ChangeColumn {
public:
    ChangeColumn(ui::Grid& grid, ui::Dialogs& dialogs, const ui::UiFont& font, const GridRowTable& rows,
                 const Environment& env, const std::string& listPath,
                 const std::array<std::string, 6>& upgradeLibraries,
                 const std::shared_ptr<const Directory>& folder,
                 const std::shared_ptr<const CheckedInPlace>& inPlace);

    // Works the changes out and shows them; shows progress and lets window events through while
    // it compares.
    void Refresh();
    void MarkStale() { m_stale = true; }
    bool Stale() const { return m_stale; }
    const preview::RowChanges& Changes() const { return m_changes; }
    // "Set unchanged rows to NO": every offered row whose change is "same" is set to NO; nothing
    // else changes.
    void SetSameToNo();
    // "Set edited rows to NO": every offered row whose installed element or file was edited here
    // since the last upgrade is set to NO; nothing else changes.
    void SetEditedToNo();
    // What exactly the offered rows `rows` would change, read now (with each row's sides, or,
    // for a listing, only what differs).
    std::vector<preview::RowDetail> Details(const std::vector<size_t>& rows, bool keepSides = true) const;

private:
    // Sets every offered row that `leaveOut` names (by its index) to NO.
    void SetRowsToNo(const std::function<bool(size_t row)>& leaveOut);

    ui::Grid& m_grid;
    ui::Dialogs& m_dialogs;
    const ui::UiFont& m_font;
    const GridRowTable& m_rows;
    const Environment& m_env;
    const std::string& m_listPath;
    const std::array<std::string, 6>& m_upgradeLibraries;
    const std::shared_ptr<const Directory>& m_folder;
    const std::shared_ptr<const CheckedInPlace>& m_inPlace;
    preview::RowChanges m_changes;
    bool m_stale = false;  // an update run or an undo has run since they were worked out
};

// The button "Set unchanged rows to NO", and the changes worked out again when the grid shows
// while they are stale (not once the program is ending).
void ConnectPreview(ChangeColumn& column, ui::MainForm& main, const bool& ended);

// A row's change as the Change column words it: "changed", and for a row edited here since the
// last upgrade "; edited here", with "(merges)" or "(conflicts)" where the upgrade changes it too.
std::string ChangeText(preview::Change change, preview::Local local, preview::Merge merge);

}  // namespace zrx
