#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "apply/run_report.h"

namespace zrx {

class App;

// After one question, and under the installation's lock, runs the update over the grid rows
// `selected` (one flag per offered row): every selected element of the loaded upgrade in a fixed
// order, recorded for undo. `shown` sees the report while the update page still says the run is
// on (the window shows its summary then). Nothing when the user declined or the run could not
// begin (a box has said why).
std::optional<RunReport> RunSelectedUpdate(App& app, const std::vector<bool>& selected,
                                           const std::function<void(const RunReport&)>& shown = {});
// "Update" on the update page: the run over the grid's selection, ending in the summary window.
void UpdateLibraries(App& app);

void ConnectUpdatePage(App& app);

}  // namespace zrx
