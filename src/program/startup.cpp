#include "program/startup.h"

#include "base/command_line.h"
#include "base/dialogs.h"
#include "base/fields.h"
#include "base/ini_file.h"
#include "base/messages.h"
#include "base/paths.h"
#include "base/text_utils.h"
#include "builder/builder_lists.h"
#include "kernel/zrxkernel.h"
#include "program/app.h"
#include "program/localization.h"
#include "upgrade_list/list_format.h"

namespace zrx {

namespace {

constexpr int kUnknownError = 1000;

// Field 1 of the command line's first token (the installation directory, trimmed), and whether
// its second field asks for the builder.
struct CommandLineFields {
    std::string directory;
    bool builder = false;
};

CommandLineFields ParseCommandLine(const std::string& commandLine) {
    CommandLineFields result;
    std::string text = TrimBlanks(commandLine);
    int16_t error = 0;
    const std::string token = NextCommandToken(text, error);
    const FieldList fields = SplitByComma(token);
    result.directory = TrimBlanks(fields.Field(1));
    if (fields.Count() == 2) result.builder = ToUpper(TrimBlanks(fields.Field(2))) == "TRELM";
    return result;
}

}  // namespace

std::string IniFileOf(const std::string& installationDir) {
    return ResolveNameInDir(installationDir, "ZARNIX32.INI");  // file-access: start-up finds the INI once
}

std::string CommandLineFromArguments(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (!line.empty()) line += ' ';
        line += '"';
        line += argv[i];
        line += '"';
    }
    return line;
}

int GetZarnixsysPath(App& app) {
    if (TrimBlanks(app.commandLine).empty()) {
        app.CloseMainWindow();
        return 1;
    }
    std::string directory = ParseCommandLine(app.commandLine).directory;
    if (directory.empty()) return 1;
    directory = WithoutTrailingSeparator(directory);
    // The path keeps its letter case: upper-casing it breaks every later use of the path on a
    // file system whose names are case-sensitive.
    if (CheckPathAvailable(directory, app.window.dialogs) ==
        0) {  // file-access: start-up, before the folders are held
        app.installation.env.IniFile = IniFileOf(directory);
    } else {
        app.installation.env.IniFile =
            directory;  // every key then falls back to its default and start-up fails
    }
    E_SetString("IniFile", app.installation.env.IniFile.c_str());
    app.installation.env.SysDir =
        TrimBlanks(ReadIniString(app.installation.env.IniFile, "Zarnix32", "SysDir", ""));
    return 0;
}

std::string ServerPath(App& app) {
    return app.executableDirectory ? app.executableDirectory() : std::string();
}

int GetSysDir(App& app) {
    app.installation.env.ServerPath = ServerPath(app);
    return app.installation.env.ServerPath.empty() ? 1 : 0;
}

int CheckServerPath(App& app) {
    return app.installation.env.ServerPath.empty() ? 1 : 0;
}

int ReadSuiteDirectories(App& app) {
    struct Key {
        const char* name;
        const char* defaultValue;
        const char* failValue;
        std::string Environment::*value;
    };
    static const Key kKeys[] = {
        {"JobDir", "\\Zarnix32\\JOB", "\\Zarnix32\\JOB", &Environment::JobDir},
        {"LibDir", "\\Zarnix32\\LIB", "\\Zarnix32\\LIB", &Environment::LibDir},
        {"SysDir", "\\Zarnix32\\SYS", "\\Zarnix32\\SYS", &Environment::SysDir},
        {"ULM3JobDir", "\\CADJOB", "\\Zarnix32\\CADJOB", &Environment::ULM3JobDir},
        {"ZSMcml", "\\Zarnix32\\ZSM_CML", "\\Zarnix32\\ZSM_CML", &Environment::ZSMcml},
        {"ZSMudn", "\\Zarnix32\\ZSM_UDN", "\\Zarnix32\\ZSM_UDN", &Environment::ZSMudn},
        {"ZSMmod", "\\Zarnix32\\ZSM_MOD", "\\Zarnix32\\ZSM_MOD", &Environment::ZSMmod},
        {"ZSMsbk", "\\Zarnix32\\ZSM_SBK", "\\Zarnix32\\ZSM_SBK", &Environment::ZSMsbk},
        {"ZSMwrk", "\\Zarnix32\\ZSM_WRK", "\\Zarnix32\\ZSM_WRK", &Environment::ZSMwrk},
    };
    // All keys are read first, then all of them checked.
    for (const Key& key : kKeys)
        app.installation.env.*key.value =
            ReadIniString(app.installation.env.IniFile, "Zarnix32", key.name, key.defaultValue);
    int failed = 0;
    for (const Key& key : kKeys) {
        const std::string& value = app.installation.env.*key.value;
        if (value.empty() || value == key.failValue) failed = 1;
    }
    // The folders are resolved once, here: everything the program later reads or writes beneath
    // them is reached through these handles.
    if (failed == 0) HoldInstallationFolders(app.installation.env);
    return failed;
}

void SetPromptLabel(App& app) {
    if (app.installation.env.BuilderMode) {
        app.window.main.F_Displbl.SetCaption("Select the path where Upgrade.lst file is placed\r\n");
        return;
    }
    app.window.main.F_Displbl.SetCaption(
        GetLocalMessage("Select the path where Upgrade files are located on your machine.", 4460) +
        "\r\n\r\n" + GetLocalMessage("Make sure that Upgrade files are in a single folder.", 4461) +
        "\r\n\r\n" +
        GetLocalMessage("User is not supposed to place Upgrade files in different folders.", 4462));
}

void SetFileListPatterns(App& app) {
    ui::MainForm& m = app.window.main;
    const Environment& e = app.installation.env;
    const struct {
        ui::FileList* list;
        const std::string* dir;
        int frame;
    } kLists[] = {{&m.F_EDLlist, &e.LibDir, kParts},     {&m.F_ESLlist, &e.LibDir, kSymbols},
                  {&m.F_ELLList, &e.LibDir, kPackages},  {&m.F_Smlilist, &e.ZSMmod, kSparams},
                  {&m.F_MPLList, &e.LibDir, kMparams},   {&m.F_SBCItem, &e.ZSMsbk, kSbcFiles},
                  {&m.F_Thermtal, &e.LibDir, kTalFiles}, {&m.F_Thermdat, &e.JobDir, kDatFiles},
                  {&m.F_Profitem, &e.SysDir, kSpcFiles}};
    for (const auto& entry : kLists) {
        entry.list->SetPattern(ChoosablePattern(entry.frame));
        entry.list->SetPath(*entry.dir);
    }
}

void InitMainWindow(App& app) {
    ui::MainForm& m = app.window.main;
    app.upgrade.lists.Reset();
    app.upgrade.GridRows.Clear();
    app.upgrade.loaded.Clear();
    app.upgrade.ReadmeLines.assign(1, std::string());
    app.builder.Clear();

    for (int i = 0; i < 10; ++i) m.F_Details(i).SetVisible(i == 0);
    m.F_Clstfile(1).SetValue(true);
    app.run.AskOverwrite = false;
    app.run.OverwriteAll = true;
    m.F_OverPrompt(1).SetValue(true);

    m.F_Format.SetVisible(false);
    m.F_chgfrm.SetVisible(false);
    m.F_Deffrm.SetVisible(false);
    m.F_Msg.SetVisible(false);
    if (!app.installation.env.BuilderMode) m.F_lstfrm.SetVisible(true);

    m.F_Syspath.Clear();
    for (const std::string_view target : kTargetTexts) m.F_Syspath.AddItem(std::string(target));
    m.F_Syspath.SetListIndex(0);

    const bool builder = app.installation.env.BuilderMode;
    m.M_File.SetVisible(builder);
    m.M_Build.SetVisible(builder);
    m.F_Format.SetVisible(builder);
    m.F_Msg.SetVisible(!builder);
    // The selection page is empty until a list is loaded; the load page lies in front of it.
    if (builder) m.F_lstfrm.SetVisible(false);
}

void ShowFallbackView(App& app) {
    app.window.main.F_lstok.SetEnabled(false);
    app.window.main.F_lstfrm.SetVisible(true);
}

StartupOutcome Form_Load(App& app) {
    ui::MainForm& m = app.window.main;
    m.M_File.SetVisible(false);
    m.M_Build.SetVisible(false);
    auto fail = [&](int code) {
        ShowErrorByCode(app.window.dialogs, code, "");
        ShowFallbackView(app);
        return StartupOutcome::Failed;
    };

    // 1. Operating-system version: at least 3.1, or the query failed.
    if (const auto version = app.osVersion()) {
        const double number =
            FieldValue(std::to_string(version->first) + "." + std::to_string(version->second));
        if (number < 3.1) return fail(16);
    }
    // 2. Font and captions.
    app.window.uiFont = SelectUiFont(SystemLocaleId(), app.window.fonts);
    LocalizeForm(m, app.window.uiFont);
    // 3. The INI file from the command line.
    app.installation.env.BuilderMode = false;
    if (GetZarnixsysPath(app) != 0) {
        if (app.ended) return StartupOutcome::Closed;
        return fail(kUnknownError);
    }
    // 4. The program's own directory.
    if (GetSysDir(app) != 0) return fail(17);
    // 5. The INI path as the kernel's shared store holds it.
    app.installation.env.IniFile = StringFromPointer(E_GetString("IniFile"));
    // 6 to 11.
    SetPromptLabel(app);
    if (CheckServerPath(app) != 0) return fail(kUnknownError);
    if (app.installation.env.IniFile.empty()) return fail(kUnknownError);
    if (ReadSuiteDirectories(app) != 0) return fail(kUnknownError);
    SetFileListPatterns(app);
    if (TrimBlanks(app.commandLine).empty()) return fail(kUnknownError);
    // 12 and 13.
    app.installation.env.BuilderMode = ParseCommandLine(app.commandLine).builder;
    InitMainWindow(app);
    if (app.installation.env.BuilderMode) SetPromptLabel(app);
    if (!CreateWorkingDatabase(app.installation.database, app.window.dialogs)) {
        app.CloseMainWindow();
        return StartupOutcome::Closed;
    }
    m.SetVisible(true);
    return StartupOutcome::Ready;
}

}  // namespace zrx
