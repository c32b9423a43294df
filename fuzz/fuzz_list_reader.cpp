// Upgrade.lst as the load page and the builder's reload read it, and the grid built from it.
#include "builder/list_reload.h"
#include "fuzz_support.h"
#include "upgrade_list/list_reader.h"
#include "upgrade_list/selection_grid.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zrx;
    fuzz::Program& program = fuzz::TheProgram();
    App& app = *program.app;
    fuzz::WriteInput("Upgrade.lst", std::string_view(reinterpret_cast<const char*>(data), size));
    app.upgrade.ListPath = app.upgrade.UpgradeDir = fuzz::ScratchDir();
    if (ReadUpgradeList(app) == 0) {
        AssignTargetDirs(app);
        BuildGridRows(app);
        FillPreferenceGrid(app);
        app.window.main.F_Preferen.UserSelect(1, 3, app.window.main.F_Preferen.Rows() - 1, 3);
        CollectGridSelection(app);
    }
    app.installation.env.BuilderMode = true;
    app.upgrade.ListPath = app.upgrade.UpgradeDir = fuzz::ScratchDir();
    ReloadUpgradeListIntoBuilder(app);
    app.installation.env.BuilderMode = false;
    program.dialogs.ClearBoxes();
    return 0;
}
