#include "program/handlers.h"
#include "program/details_window.h"

#include "program/change_column.h"
#include "program/app.h"
#include "program/builder_page.h"
#include "program/main_window.h"
#include "program/update_page.h"
#include "program/upgrade_pages.h"

namespace zrx {

void ConnectHandlers(App& app) {
    ConnectMainWindow(app);
    ConnectLoadPage(app);
    ConnectSelectionGrid(app);
    ConnectUpdatePage(app);
    ConnectBuilder(app);
    ConnectPreview(app.changeColumn, app.window.main, app.ended);
    ConnectDetails(app);
}

}  // namespace zrx
