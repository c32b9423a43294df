#pragma once

namespace zrx {

class App;

// Copy the selected mixed-mode (MPARAM) models into libraries of the library directory, and the
// simulator (SPARAM) models into libraries of the model directory, reading three texts out of
// each saved simulator model for the model index.
void TransferMixedModels(App& app);
void TransferSpiceModels(App& app);

}  // namespace zrx
