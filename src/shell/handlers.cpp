#include "shell/handlers.h"

#include "apply/update_run.h"
#include "builder/build_window.h"
#include "preview/change_column.h"
#include "shell/app.h"
#include "shell/main_window.h"
#include "upgrade_list/load_page.h"
#include "upgrade_list/selection_grid.h"

namespace zrx {

void ConnectHandlers(App& app) {
    ConnectMainWindow(app);
    ConnectLoadPage(app);
    ConnectSelectionGrid(app);
    ConnectUpdatePage(app);
    ConnectBuilder(app);
    ConnectPreview(app.changeColumn, app.window.main, app.ended);
}

}  // namespace zrx
