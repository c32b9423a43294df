#pragma once

#include <cstddef>

#include "preview/change_preview.h"

namespace zrx {

struct App;
struct GridRow;
namespace ui {
class DetailsForm;
class MainForm;
}  // namespace ui

// The details view of a row: its title (name, target, change), and for an element every field of
// the installed element and of the upgrade's, side by side, the ones that differ marked "*"; for
// a file the unified diff of a changed one, the upgrade's text of a new one.
void FillDetails(ui::DetailsForm& form, const GridRow& row, const preview::RowDetail& detail);
// Shows the details of the grid's offered row `row` (0 for the first), read now.
void ShowRowDetails(App& app, size_t row);
// "Details" beside the grid, and a double click on a row: the details of the current row.
void ConnectDetails(App& app);

}  // namespace zrx
