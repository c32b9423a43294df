// Upgrade.lst as the load page and the builder's reload read it, and the grid built from it.
#include "builder/list_reload.h"
#include "fuzz_support.h"
#include "upgrade_list/list_reader.h"
#include "program/selection_page.h"
#include "upgrade_list/selection_grid.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zrx;
    fuzz::Program& program = fuzz::TheProgram();
    App& app = *program.app;
    fuzz::WriteInput("Upgrade.lst", std::string_view(reinterpret_cast<const char*>(data), size));
    app.upgrade.ListPath = app.upgrade.UpgradeDir = fuzz::ScratchDir();
    LoadedUpgrade& upgrade = app.upgrade;
    ui::Grid& grid = app.window.main.F_Preferen;
    if (ReadUpgradeList(upgrade, app.window.dialogs) == 0) {
        AssignTargetDirs(upgrade.loaded, app.installation.env);
        BuildGridRows(upgrade.GridRows, upgrade.loaded, app.installation.env);
        FillPreferenceGrid(grid, upgrade, app.window.dialogs, app.window.uiFont);
        grid.UserSelect(1, 3, grid.Rows() - 1, 3);
        CollectSelection(upgrade.lists, upgrade.GridRows, GridSelection(grid, upgrade.GridRows.size() - 1));
    }
    app.installation.env.BuilderMode = true;
    app.upgrade.ListPath = app.upgrade.UpgradeDir = fuzz::ScratchDir();
    ReloadUpgradeListIntoBuilder(app.builder, app.upgrade, app.installation.env, app.window.dialogs);
    app.installation.env.BuilderMode = false;
    program.dialogs.ClearBoxes();
    return 0;
}
