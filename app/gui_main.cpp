// zrxlibug: the desktop program, started as the suite starts it: zrxlibug "<installation dir>[,TRELM]".
#include <QApplication>
#include <QFileDialog>
#include <QSettings>

#include <csignal>
#include <optional>
#include <cstdio>
#include <filesystem>
#include <string_view>

#include "base/messages.h"
#include "program/app.h"
#include "program/handlers.h"
#include "program/startup.h"
#include "ui/qt/bindings.h"
#include "ui/qt/main_window.h"
#include "ui/qt/qt_dialogs.h"
#include "zrx_version.h"

namespace {

constexpr const char* kUsage =
    "Usage: zrxlibug \"INSTALLATION[,TRELM]\"\n"
    "       zrxlibug --choose\n"
    "Apply Zarnix32 library upgrades to an installation in a window: see what each element of an\n"
    "upgrade folder would change, choose, update, and undo an update from its summary.\n"
    "\n"
    "  INSTALLATION   the folder that holds ZARNIX32.INI\n"
    "  TRELM          also build upgrade folders (builder mode)\n"
    "\n"
    "Options:\n"
    "  --choose       open the installation used last, or one chosen in a dialog (the desktop\n"
    "                 menu starts the program so)\n"
    "  --help         print this help and exit\n"
    "  --version      print the version and exit\n"
    "\n"
    "Started with nothing on its command line, the program ends without showing its window, as\n"
    "the suite expects.\n"
    "\n"
    "The texts of the window follow LANG (for example de_DE.UTF-8). The command line program\n"
    "zrxlibug-cli does the same work without a window.\n";

// Started from the desktop's menu (--choose): the installation used last, or one the user chooses.
// Nothing when the user cancels.
std::optional<std::string> InstallationFromSettings(QSettings& settings) {
    const QString last = settings.value("installation").toString();
    if (!last.isEmpty() && std::filesystem::exists(zrx::qt::FromQt(last) + "/ZARNIX32.INI")) return zrx::qt::FromQt(last);
    const QString chosen = QFileDialog::getExistingDirectory(
        nullptr, zrx::qt::ToQt(zrx::GetLocalMessage("Choose the Zarnix32 installation (the folder that holds ZARNIX32.INI)", 20052)));
    if (chosen.isEmpty()) return std::nullopt;
    return zrx::qt::FromQt(chosen);
}

}  // namespace

int main(int argc, char** argv) {
    // Answered before any window exists, so that they work without a display.
    if (argc == 2 && std::string_view(argv[1]) == "--help") return std::fputs(kUsage, stdout), 0;
    if (argc == 2 && std::string_view(argv[1]) == "--version") return std::printf("zrxlibug %s\n", ZRX_VERSION), 0;
    // A write past a file-size limit fails with an error the program reports, instead of ending it.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication application(argc, argv);
    application.setApplicationName("zrxlibug");
    application.setOrganizationName("zrxlibug");
    application.setDesktopFileName("org.zarnix.zrxlibug");
    QSettings settings;
    zrx::qt::QtDialogs dialogs;
    zrx::qt::QtFontCatalog fonts;
    zrx::qt::RegisterFormDialogs(dialogs);

    zrx::App app(dialogs, fonts);
    app.commandLine = zrx::CommandLineFromArguments(argc, argv);
    if (argc == 2 && std::string_view(argv[1]) == "--choose") {
        const auto installation = InstallationFromSettings(settings);
        if (!installation) return 0;
        app.commandLine = "\"" + *installation + "\"";
    }
    zrx::ConnectHandlers(app);

    zrx::qt::MainWindow window(app);
    dialogs.SetOwner(&window);
    dialogs.SetProgressHandler(
        [&window](const std::string& text, size_t done, size_t total) { window.ShowProgress(text, done, total); });
    // The key that signed the last build signs the next one too.
    app.builder.seal.signingKey = zrx::qt::FromQt(settings.value("signingKey").toString());
    app.window.main.P_SignKey.SetText(app.builder.seal.signingKey);
    window.restoreGeometry(settings.value("window").toByteArray());
    window.FitIntoScreen();
    const zrx::StartupOutcome outcome = zrx::Form_Load(app);
    if (outcome == zrx::StartupOutcome::Closed || app.ended) return 0;
    if (outcome == zrx::StartupOutcome::Ready) {
        settings.setValue("installation", zrx::qt::ToQt(zrx::InstallationDir(app.installation.env)));
        // The upgrade folder chosen last, when it is still there.
        const std::string folder = zrx::qt::FromQt(settings.value("upgradeFolder").toString());
        std::error_code error;
        if (!app.installation.env.BuilderMode && !folder.empty() &&
            std::filesystem::is_directory(folder, error))
            window.OpenFolder(folder);
    }
    app.window.main.SetVisible(true);
    window.show();
    const int status = application.exec();
    // What the user chose is kept for the next start.
    settings.setValue("window", window.saveGeometry());
    if (app.installation.env.BuilderMode)
        settings.setValue("signingKey", zrx::qt::ToQt(app.builder.seal.signingKey));
    if (!app.upgrade.ListPath.empty())
        settings.setValue("upgradeFolder", zrx::qt::ToQt(app.upgrade.ListPath));
    return status;
}
