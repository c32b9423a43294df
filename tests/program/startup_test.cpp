#include "program/startup.h"

#include <gtest/gtest.h>

#include "program/main_window.h"
#include "support/app_fixture.h"

namespace zrx {
namespace {

using test::AppTest;

TEST_F(AppTest, AValidInstallationOpensOnTheLoadPage) {
    App& app = Start();
    EXPECT_TRUE(m_dialogs.Boxes().empty());
    EXPECT_EQ(app.installation.env.LibDir, m_suite / "LIB");
    EXPECT_EQ(app.installation.env.ZSMwrk, m_suite / "ZSM_WRK");
    EXPECT_EQ(app.installation.env.IniFile, m_suite / "ZARNIX32.INI");
    EXPECT_EQ(app.installation.env.ServerPath, "/opt/zarnix/bin");
    EXPECT_STREQ(E_GetString("IniFile"), (m_suite / "ZARNIX32.INI").c_str());
    EXPECT_FALSE(app.installation.env.BuilderMode);
    const ui::MainForm& m = app.window.main;
    EXPECT_TRUE(m.F_lstfrm.Visible());
    EXPECT_TRUE(m.F_Msg.Visible());  // behind the load page
    EXPECT_FALSE(m.F_Deffrm.Visible());
    EXPECT_FALSE(m.F_Format.Visible());
    EXPECT_FALSE(m.F_chgfrm.Visible());
    EXPECT_FALSE(m.M_File.Visible());
    EXPECT_FALSE(m.M_Build.Visible());
    EXPECT_TRUE(m.F_lstok.Enabled());
    EXPECT_EQ(
        m.F_Displbl.Caption(),
        "Select the path where Upgrade files are located on your machine.\r\n\r\nMake sure that Upgrade "
        "files are in a single folder.\r\n\r\nUser is not supposed to place Upgrade files in different "
        "folders.");
    EXPECT_TRUE(m.F_OverPrompt(1).Value());
    EXPECT_FALSE(m.F_OverPrompt(0).Value());
    EXPECT_TRUE(app.run.OverwriteAll);
    EXPECT_FALSE(app.run.AskOverwrite);
    EXPECT_EQ(m.F_Syspath.Items().size(), 8u);
    EXPECT_EQ(m.F_Syspath.Text(), "\\Lib");
    EXPECT_EQ(m.F_EDLlist.Path(), m_suite / "LIB");
    EXPECT_EQ(m.F_EDLlist.Pattern(), "*.PART;*.part");
    EXPECT_EQ(m.F_Smlilist.Path(), m_suite / "ZSM_MOD");
    EXPECT_EQ(m.F_Thermdat.Path(), m_suite / "JOB");
    EXPECT_EQ(m.F_Profitem.Path(), m_suite / "SYS");
    EXPECT_GT(app.installation.database.rootHierarchy, 0);
}

TEST_F(AppTest, TheWordTrelmInAnyCaseOpensTheBuilder) {
    App& app = NewApp("\"" + m_suite.Dir() + ", trelm \"");
    ASSERT_EQ(Form_Load(app), StartupOutcome::Ready);
    EXPECT_TRUE(app.installation.env.BuilderMode);
    const ui::MainForm& m = app.window.main;
    EXPECT_TRUE(m.F_Format.Visible());
    EXPECT_TRUE(m.F_Details(0).Visible());
    for (int i = 1; i < 10; ++i) EXPECT_FALSE(m.F_Details(i).Visible());
    EXPECT_FALSE(m.F_lstfrm.Visible());
    EXPECT_FALSE(m.F_Msg.Visible());
    EXPECT_TRUE(m.M_File.Visible());
    EXPECT_TRUE(m.M_Build.Visible());
    EXPECT_TRUE(m.F_Clstfile(1).Value());
    EXPECT_EQ(m.F_Displbl.Caption(), "Select the path where Upgrade.lst file is placed\r\n");
}

TEST_F(AppTest, AThirdFieldMeansOrdinaryModeAndATrailingSeparatorIsDropped) {
    App& app = NewApp("\"" + m_suite.Dir() + "/,TRELM,x\"");
    ASSERT_EQ(Form_Load(app), StartupOutcome::Ready);
    EXPECT_FALSE(app.installation.env.BuilderMode);
    EXPECT_EQ(app.installation.env.IniFile, m_suite / "ZARNIX32.INI");
}

TEST_F(AppTest, TheIniFileIsFoundWithoutRegardToCase) {
    std::filesystem::remove(m_suite / "ZARNIX32.INI");
    m_suite.WriteIni("zarnix32.ini");
    App& app = Start();
    EXPECT_EQ(app.installation.env.IniFile, m_suite / "zarnix32.ini");
}

TEST_F(AppTest, TheCaseOfTheInstallationPathIsKept) {
    std::filesystem::create_directories(m_suite / "Mixed Case");
    std::filesystem::copy_file(m_suite / "ZARNIX32.INI", m_suite / "Mixed Case/ZARNIX32.INI");
    App& app = NewApp("\"" + (m_suite / "Mixed Case") + "\"");
    ASSERT_EQ(Form_Load(app), StartupOutcome::Ready);
    EXPECT_EQ(app.installation.env.IniFile, m_suite / "Mixed Case/ZARNIX32.INI");
}

TEST_F(AppTest, WithoutACommandLineTheProgramEndsWithoutABox) {
    App& app = NewApp("   ");
    EXPECT_EQ(Form_Load(app), StartupOutcome::Closed);
    EXPECT_TRUE(app.ended);
    EXPECT_TRUE(m_dialogs.Ended());
    EXPECT_TRUE(m_dialogs.Boxes().empty());
}

struct FailureCase {
    const char* name;
    std::function<void(test::Installation&, App&)> prepare;
    std::vector<std::string> boxes;
    ui::Icon lastIcon;
};

// CTest lists the case by its name, not by its bytes.
void PrintTo(const FailureCase& value, std::ostream* out) {
    *out << value.name;
}

class StartupFailureTest : public AppTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(StartupFailureTest, ShowsItsBoxAndTheFallbackView) {
    App& app = NewApp("\"" + m_suite.Dir() + "\"");
    GetParam().prepare(m_suite, app);
    EXPECT_EQ(Form_Load(app), StartupOutcome::Failed);
    std::vector<std::string> expected = GetParam().boxes;
    for (std::string& text : expected)
        if (text.find("%DIR%") != std::string::npos) text.replace(text.find("%DIR%"), 5, m_suite.Dir());
    EXPECT_EQ(BoxTexts(), expected);
    ASSERT_FALSE(m_dialogs.Boxes().empty());
    EXPECT_EQ(m_dialogs.Boxes().back().icon, GetParam().lastIcon);
    EXPECT_EQ(m_dialogs.Boxes().back().title, "Zarnix32 Library Upgrade");
    EXPECT_FALSE(app.window.main.F_lstok.Enabled());
    EXPECT_TRUE(app.window.main.F_lstfrm.Visible());
    EXPECT_FALSE(app.ended);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StartupFailureTest,
    ::testing::Values(
        FailureCase{
            "old_system",
            [](auto&, App& app) { app.osVersion = [] { return std::make_optional(std::pair(3, 0)); }; },
            {"This application requires Windows 3.1 or later "},
            ui::Icon::Warning},
        FailureCase{"empty_directory_field",
                    [](auto&, App& app) { app.commandLine = "\" ,TRELM\""; },
                    {"Unknown Error"},
                    ui::Icon::Critical},
        FailureCase{"own_directory_unknown",
                    [](auto&, App& app) { app.executableDirectory = [] { return std::string(); }; },
                    {"Make sure Zarnix32 is running  "},
                    ui::Icon::Warning},
        FailureCase{"missing_installation",
                    [](auto& suite, App& app) { app.commandLine = "\"" + (suite / "none") + "\""; },
                    {"Path: %DIR%/none not available", "Unknown Error"},
                    ui::Icon::Critical},
        FailureCase{"missing_ini",
                    [](auto& suite, App&) { std::filesystem::remove(suite / "ZARNIX32.INI"); },
                    {"Unknown Error"},
                    ui::Icon::Critical},
        FailureCase{"missing_libdir",
                    [](auto& suite, App&) {
                        suite.keys.erase("LibDir");
                        suite.WriteIni();
                    },
                    {"Unknown Error"},
                    ui::Icon::Critical},
        FailureCase{"empty_ulm3jobdir",
                    [](auto& suite, App&) {
                        suite.keys["ULM3JobDir"] = "";
                        suite.WriteIni();
                    },
                    {"Unknown Error"},
                    ui::Icon::Critical},
        FailureCase{"zsmsbk_at_default",
                    [](auto& suite, App&) {
                        suite.keys["ZSMsbk"] = "\\Zarnix32\\ZSM_SBK";
                        suite.WriteIni();
                    },
                    {"Unknown Error"},
                    ui::Icon::Critical}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(AppTest, AMissingUlm3JobDirKeyPasses) {
    m_suite.keys.erase("ULM3JobDir");
    m_suite.WriteIni();
    App& app = Start();
    EXPECT_EQ(app.installation.env.ULM3JobDir, "\\CADJOB");
}

TEST_F(AppTest, ViewSwitchingFollowsTheButtonsAndMenus) {
    App& app = Start(true);
    ui::MainForm& m = app.window.main;
    m.M_Build.Click();
    EXPECT_TRUE(m.F_chgfrm.Visible());
    EXPECT_FALSE(m.F_Format.Visible());
    m.M_Fileitems(9).Click();
    EXPECT_TRUE(m.F_Format.Visible());
    EXPECT_FALSE(m.F_chgfrm.Visible());
    EXPECT_TRUE(m.F_Details(9).Visible());
    EXPECT_FALSE(m.F_Details(0).Visible());
    m.M_Upgload.Click();
    EXPECT_TRUE(m.F_lstfrm.Visible());
    EXPECT_FALSE(m.F_Format.Visible());
    m.M_Fileitems(5).Click();
    EXPECT_FALSE(m.F_lstfrm.Visible());
    EXPECT_EQ(m.F_sbcdir.Path(), m_suite / "ZSM_SBK");
    EXPECT_TRUE(m.F_Details(5).Visible());

    // "Next  >>" with only the header row does nothing; Back returns to the grid.
    App& loader = Start();
    loader.window.main.F_Preferen.SetRows(1);
    loader.window.main.F_Proceed.Click();
    EXPECT_FALSE(loader.window.main.F_Deffrm.Visible());
    loader.window.main.F_Preferen.SetRows(3);
    loader.window.main.F_Proceed.Click();
    EXPECT_TRUE(loader.window.main.F_Deffrm.Visible());
    EXPECT_FALSE(loader.window.main.F_Msg.Visible());
    loader.window.main.F_Cancel.Click();
    EXPECT_TRUE(loader.window.main.F_Msg.Visible());
    EXPECT_FALSE(loader.window.main.F_Deffrm.Visible());
}

TEST_F(AppTest, EveryCloseEndsTheWholeProgram) {
    const std::vector<std::function<void(ui::MainForm&)>> closers = {
        [](ui::MainForm& m) { m.F_Exit(0).Click(); }, [](ui::MainForm& m) { m.F_Exit(1).Click(); },
        [](ui::MainForm& m) { m.F_Exit(2).Click(); }, [](ui::MainForm& m) { m.F_Terminate.Click(); },
        [](ui::MainForm& m) { m.M_exit.Click(); }};
    for (const auto& close : closers) {
        App& app = Start(true);
        close(app.window.main);
        EXPECT_TRUE(app.ended);
    }
}

TEST_F(AppTest, HelpButtonsOpenTheHelpFileBesideTheProgram) {
    App& app = Start();
    app.window.main.F_Help(1).Click();
    app.window.main.F_Help(4).Click();
    EXPECT_EQ(m_dialogs.HelpFiles(),
              (std::vector<std::string>{"/opt/zarnix/bin/ZRXLIBUG.HLP", "/opt/zarnix/bin/ZRXLIBUG.HLP"}));
}

TEST(CommandLineFromArgumentsTest, QuotesEveryArgument) {
    const char* argv[] = {"zrxlibug", "/opt/my suite,TRELM"};
    EXPECT_EQ(CommandLineFromArguments(2, const_cast<char**>(argv)), "\"/opt/my suite,TRELM\"");
    EXPECT_EQ(CommandLineFromArguments(1, const_cast<char**>(argv)), "");
}

}  // namespace
}  // namespace zrx
