#include "program/localization.h"

#include <gtest/gtest.h>

#include "program/readme_viewer.h"
#include "support/app_fixture.h"
#include "ui/forms/readme_form.h"

namespace zrx {
namespace {

using test::AppTest;

TEST_F(AppTest, GermanCaptionsComeFromTheCatalogByTag) {
    test::ScopedEnv german("LANG", "de_DE.UTF-8");
    L32_Object_Reset();
    App& app = Start();
    const ui::MainForm& m = app.window.main;
    EXPECT_EQ(m.F_lstok.Caption(), "OK");
    EXPECT_EQ(m.F_Help(1).Caption(), "Hilfe");
    EXPECT_EQ(m.F_Exit(2).Caption(), "Schließen");
    EXPECT_EQ(m.F_Proceed.Caption(), "Weiter  >>");
    EXPECT_EQ(m.F_Update.Caption(), "Aktualisieren");
    EXPECT_EQ(m.F_Create.Caption(), "Erstellen");
    EXPECT_EQ(m.F_Cancel.Caption(), "<<  Back");  // no Tag: the design caption stays
    EXPECT_EQ(m.Caption(), "Zarnix Library Upgrade Utility ");
    EXPECT_EQ(m.F_Displbl.Caption().substr(0, 11), "Wählen Sie");
}

TEST_F(AppTest, LocalisingSetsTheFontAndSwitchesBoldOff) {
    ui::MainForm form;
    form.F_Info.SetBold(true);
    form.F_MsgBar.SetBold(true);
    LocalizeForm(form, ui::UiFont{"Arial", 8, 0});
    EXPECT_FALSE(form.F_Info.Bold());
    EXPECT_FALSE(form.F_MsgBar.Bold());
    EXPECT_EQ(form.F_Preferen.Font().name, "Arial");
    EXPECT_EQ(form.M_Build.Font().size, 8);
    // A Tag the catalog does not know keeps the design caption.
    EXPECT_EQ(form.F_Info.Caption(), "Info");
}

struct FontCase {
    const char* locale;
    std::set<std::string> installed;
    ui::UiFont expected;
};

class SelectUiFontTest : public ::testing::TestWithParam<FontCase> {};

TEST_P(SelectUiFontTest, ChoosesByTheSystemLocale) {
    test::FakeFonts fonts;
    fonts.installed = GetParam().installed;
    fonts.byLanguage = {
        {"ja", "Noto Sans CJK JP"}, {"zh-TW", "Noto Sans CJK TC"}, {"ko", "Noto Sans CJK KR"}};
    EXPECT_EQ(SelectUiFont(LocaleIdFromName(GetParam().locale), fonts), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Locales, SelectUiFontTest,
    ::testing::Values(
        FontCase{"ja_JP.UTF-8",
                 {"\xEF\xBC\xAD\xEF\xBC\xB3 \xEF\xBC\xB0\xE3\x82\xB4\xE3\x82\xB7\xE3\x83\x83\xE3\x82\xAF"},
                 {"\xEF\xBC\xAD\xEF\xBC\xB3 \xEF\xBC\xB0\xE3\x82\xB4\xE3\x82\xB7\xE3\x83\x83\xE3\x82\xAF", 9,
                  128}},
        FontCase{"ja", {}, {"Noto Sans CJK JP", 9, 128}},
        FontCase{"zh_TW.UTF-8", {}, {"Noto Sans CJK TC", 9, 136}},
        FontCase{
            "zh_CN.UTF-8", {}, {"\xE5\xAE\x8B\xE4\xBD\x93", 9, 134}},  // nothing installed: the table's name
        FontCase{"zh_HK.UTF-8", {}, {}},                               // no font for that sub-language
        FontCase{"ko_KR.UTF-8", {}, {"Noto Sans CJK KR", 9, 129}},
        FontCase{"en_US.UTF-8", {"ms sans serif", "Arial"}, {"ms sans serif", 8, 0}},
        FontCase{"de_DE.UTF-8", {"Arial"}, {"Arial", 8, 0}},
        FontCase{"ru_RU.UTF-8", {"System"}, {"System", 8, 204}}, FontCase{"C", {}, {"DejaVu Sans", 8, 0}}));

TEST(LocaleIdTest, SplitsLanguageAndSubLanguage) {
    EXPECT_EQ(LocaleIdFromName("zh_TW.UTF-8").primary, 4);
    EXPECT_EQ(LocaleIdFromName("zh_TW.UTF-8").sub, 1);
    EXPECT_EQ(LocaleIdFromName("zh_CN").sub, 2);
    EXPECT_EQ(LocaleIdFromName("zh").sub, 2);
    EXPECT_EQ(LocaleIdFromName("ja_JP@euro").primary, 17);
    EXPECT_EQ(LocaleIdFromName("POSIX").primary, 9);
}

TEST_F(AppTest, TheReadmeViewerShowsTheLinesAndIgnoresTyping) {
    App& app = Start();
    app.upgrade.ReadmeLines = {"first", "", "third"};
    std::string shown;
    int discarded = -1;
    m_dialogs.OnModal([&](ui::Form& form) {
        auto& readme = static_cast<ui::ReadmeForm&>(form);
        shown = readme.F_Summary.Text();
        discarded = readme.F_Summary.KeyPress('x');
        readme.F_Help.Click();
        readme.F_Prev.Click();
        EXPECT_FALSE(readme.Visible());
    });
    app.window.main.F_Info.Click();
    EXPECT_EQ(shown, "first\r\n\r\nthird\r\n");
    EXPECT_EQ(discarded, 0);
    EXPECT_EQ(m_dialogs.ModalForms(), std::vector<std::string>{"INSTTXT"});
    EXPECT_EQ(m_dialogs.HelpFiles().size(), 1u);
    EXPECT_TRUE(app.window.openForms.empty());
}

TEST(ReadmeViewerTest, AListWithoutReadmeLinesGivesOneEmptyLine) {
    ui::ReadmeForm form;
    formfill(form, {""});
    EXPECT_EQ(form.F_Summary.Text(), "\r\n");
}

}  // namespace
}  // namespace zrx
