// zrxlibug: the desktop program, started as the suite starts it: zrxlibug "<installation dir>[,TRELM]".
#include <QApplication>
#include <csignal>

#include "shell/app.h"
#include "shell/handlers.h"
#include "shell/startup.h"
#include "ui/qt/main_window.h"
#include "ui/qt/qt_dialogs.h"

int main(int argc, char** argv) {
    // A write past a file-size limit fails with an error the program reports, instead of ending it.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication application(argc, argv);
    application.setApplicationName("zrxlibug");
    zrx::qt::QtDialogs dialogs;
    zrx::qt::QtFontCatalog fonts;
    zrx::qt::RegisterFormDialogs(dialogs);

    zrx::App app(dialogs, fonts);
    app.commandLine = zrx::CommandLineFromArguments(argc, argv);
    zrx::ConnectHandlers(app);

    zrx::qt::MainWindow window(app);
    dialogs.SetOwner(&window);
    const zrx::StartupOutcome outcome = zrx::Form_Load(app);
    if (outcome == zrx::StartupOutcome::Closed || app.ended) return 0;
    app.main.SetVisible(true);
    window.show();
    return application.exec();
}
