#include "base/messages.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "ui/scripted_dialogs.h"
#include "zrxlocal.h"

namespace zrx {
namespace {

// Runs each test with a chosen locale and, optionally, a catalog of its own.
class MessagesTest : public ::testing::Test {
protected:
    void UseLocale(const char* lang, std::string_view catalog = {}) {
        m_lcAll.emplace("LC_ALL", nullptr);
        m_lcMessages.emplace("LC_MESSAGES", nullptr);
        m_lang.emplace("LANG", lang);
        if (!catalog.empty()) {
            test::WriteFile(m_dir / "zrxlibug.xx.msg", catalog);
            m_langDir.emplace("ZRXLIBUG_LANG_DIR", m_dir.Path().c_str());
        } else {
            m_langDir.emplace("ZRXLIBUG_LANG_DIR", nullptr);
        }
        L32_Object_Reset();
    }
    void TearDown() override {
        m_langDir.reset();
        m_lang.reset();
        m_lcMessages.reset();
        m_lcAll.reset();
        L32_Object_Reset();
    }

    test::TempDir m_dir;
    std::optional<test::ScopedEnv> m_lcAll, m_lcMessages, m_lang, m_langDir;
};

TEST_F(MessagesTest, DefaultComesBackUnchangedWithoutALocalisedText) {
    UseLocale("C");
    EXPECT_EQ(GetLocalMessage("  Some text ", "4444"), "  Some text ");
    EXPECT_EQ(GetLocalMessage("Cannot copy file   ", 4435), "Cannot copy file   ");
}

TEST_F(MessagesTest, LocalisedTextIsTrimmedAndGetsTheDefaultsBlanks) {
    UseLocale("xx_XX.UTF-8", "123\t   Eigener Text  \n");
    EXPECT_EQ(GetLocalMessage("  Some text ", "123"), "  Eigener Text ");
    EXPECT_EQ(GetLocalMessage("  Some text ", "123 "), "  Eigener Text ");
    EXPECT_EQ(GetLocalMessage("  Some text ", "124"), "  Some text ");
}

TEST_F(MessagesTest, MalformedCatalogLinesAreSkipped) {
    UseLocale("xx",
              "garbage\n\t no number\n12a\tbad\n99999999999\ttoo big\n5\tfive\r\n5\tsecond\n-7\tminus\n");
    EXPECT_EQ(GetLocalMessage("d", 5), "five");
    EXPECT_EQ(GetLocalMessage("d", -7), "minus");
    EXPECT_EQ(GetLocalMessage("d", 12), "d");
}

TEST_F(MessagesTest, EmptyNumberTextIsNumberZero) {
    UseLocale("xx", "0\tZero\n");
    EXPECT_EQ(GetLocalMessage("Spice Model Lib File", ""), "Zero");
}

TEST_F(MessagesTest, GermanCatalogReplacesDefaultsAndKeepsTheirBlanks) {
    UseLocale("de_DE.UTF-8");
    EXPECT_EQ(GetLocalMessage("Cannot copy file   ", 4435), "Datei kann nicht kopiert werden   ");
    EXPECT_EQ(GetLocalMessage(" to Library:-", 4475), " in Bibliothek:-");
    EXPECT_EQ(GetLocalMessage("Unknown Error", 4444), "Unbekannter Fehler");
    // A number the catalog lacks keeps its default.
    EXPECT_EQ(GetLocalMessage("Not in any catalog ", 4463), "Not in any catalog ");
}

TEST_F(MessagesTest, GermanCatalogCoversEveryMessageNumber) {
    UseLocale("de_DE.UTF-8");
    const int numbers[] = {444,  447,  448,  4413, 4414, 4415, 4416, 4417,  4418,  4419,  4422,   4423,
                           4424, 4425, 4426, 4427, 4428, 4429, 4430, 4431,  4432,  4433,  4434,   4435,
                           4436, 4437, 4438, 4439, 4440, 4441, 4442, 4443,  4444,  4445,  4449,   4450,
                           4451, 4452, 4453, 4454, 4455, 4456, 4457, 4458,  4459,  4460,  4461,   4462,
                           4465, 4466, 4467, 4468, 4469, 4470, 4471, 4472,  4473,  4474,  4475,   4476,
                           4477, 4478, 4479, 4480, 4481, 4482, 4483, 11171, 99422, 99670, 991140, 991411};
    for (int number : numbers) EXPECT_NE(L32_Object_GetMessage(number), nullptr) << number;
}

struct CodeCase {
    int32_t code;
    const char* text;
    ui::Icon icon;
};

// CTest lists the case by its name, not by its bytes.
void PrintTo(const CodeCase& value, std::ostream* out) {
    *out << "code " << value.code;
}

class ShowErrorByCodeTest : public MessagesTest, public ::testing::WithParamInterface<CodeCase> {};

TEST_P(ShowErrorByCodeTest, ShowsTheRowOfTheCode) {
    UseLocale("C");
    ui::ScriptedDialogs dialogs;
    ShowErrorByCode(dialogs, GetParam().code, "NAME");
    ASSERT_EQ(dialogs.Boxes().size(), 1u);
    const ui::MessageBox& box = dialogs.Boxes()[0];
    EXPECT_EQ(box.text, GetParam().text);
    EXPECT_EQ(box.icon, GetParam().icon);
    EXPECT_EQ(box.title, "Zarnix32 Library Upgrade");
    EXPECT_EQ(box.buttons, ui::Buttons::Ok);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ShowErrorByCodeTest,
    ::testing::Values(
        CodeCase{1, "Cannot copy file   NAME", ui::Icon::Warning},
        CodeCase{2, "Cannot copy part  NAME", ui::Icon::Warning},
        CodeCase{3, "Cannot open destination library   NAME", ui::Icon::Warning},
        CodeCase{4, "Cannot load part   NAME", ui::Icon::Warning},
        CodeCase{5, "Cannot load part  NAME", ui::Icon::Warning},
        CodeCase{6, "Cannot open library  NAME", ui::Icon::Warning},
        CodeCase{7, "Cannot save symbol   NAME", ui::Icon::Warning},
        CodeCase{8, "Cannot load symbol   NAME", ui::Icon::Warning},
        CodeCase{9, "Make sure that Upgrade files are in the specified path :  NAME", ui::Icon::Warning},
        CodeCase{10, "This application requires Zarnix32.exe to be runningNAME", ui::Icon::Warning},
        CodeCase{11, "Unknown Error", ui::Icon::Critical}, CodeCase{12, "Unknown Error", ui::Icon::Critical},
        CodeCase{13, "Select destination folder to place Upgrade filesNAME", ui::Icon::Warning},
        CodeCase{14, "File not found:   NAME", ui::Icon::Warning},
        CodeCase{15, "Upgrade file(s) createdNAME", ui::Icon::Warning},
        CodeCase{16, "This application requires Windows 3.1 or later NAME", ui::Icon::Warning},
        CodeCase{17, "Make sure Zarnix32 is running  NAME", ui::Icon::Warning},
        CodeCase{18, "Cannot perform library upgradation without clearing databaseNAME", ui::Icon::Warning},
        CodeCase{19, "Wrong Format : NAME", ui::Icon::Warning},
        CodeCase{0, "Unknown Error", ui::Icon::Critical}, CodeCase{1000, "Unknown Error", ui::Icon::Critical},
        CodeCase{-1, "Unknown Error", ui::Icon::Critical}),
    [](const auto& p) { return "code_" + std::to_string(p.index); });

TEST_F(MessagesTest, ErrorBoxesUseTheGermanTextsButNotForLiterals) {
    UseLocale("de_DE.UTF-8");
    EXPECT_EQ(ErrorTextForCode(19, "/x/Upgrade.lst").text, "Falsches Format : /x/Upgrade.lst");
    EXPECT_EQ(ErrorTextForCode(2, "7400").text, "Bauteil kann nicht kopiert werden  7400");
    EXPECT_EQ(ErrorTextForCode(14, "/p").text, "File not found:   /p");
    EXPECT_EQ(ErrorTextForCode(1000, "x").text, "Unbekannter Fehler");
}

TEST_F(MessagesTest, AskYesNoIsASystemModalQuestion) {
    UseLocale("C");
    ui::ScriptedDialogs dialogs;
    dialogs.QueueAnswer(ui::Answer::No);
    EXPECT_FALSE(AskYesNo(dialogs, "Really?"));
    EXPECT_TRUE(AskYesNo(dialogs, "Really?"));  // the script's default answer is Yes
    const ui::MessageBox& box = dialogs.Boxes().at(0);
    EXPECT_EQ(box.text, "Really?");
    EXPECT_EQ(box.title, "Zarnix32 Library Upgrade");
    EXPECT_EQ(box.icon, ui::Icon::Question);
    EXPECT_EQ(box.buttons, ui::Buttons::YesNo);
    EXPECT_TRUE(box.systemModal);
}

}  // namespace
}  // namespace zrx
