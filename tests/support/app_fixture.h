#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <memory>
#include <string>

#include "base/text_utils.h"
#include "kernel/zrxkernel.h"
#include "program/app.h"
#include "program/handlers.h"
#include "program/startup.h"
#include "support/temp_dir.h"
#include "ui/fonts.h"
#include "ui/scripted_dialogs.h"
#include "zrxlocal.h"

namespace zrx::test {

// Fonts as a test declares them.
class FakeFonts : public ui::FontCatalog {
public:
    std::set<std::string> installed;
    std::map<std::string, std::string> byLanguage;
    bool FontExists(std::string& name) override {
        for (const std::string& font : installed)
            if (EqualsIgnoreCase(font, name)) return name = font, true;
        return false;
    }
    std::string FontForLanguage(const std::string& language) override {
        const auto it = byLanguage.find(language);
        return it == byLanguage.end() ? std::string() : it->second;
    }
    std::string GeneralFont() override { return "DejaVu Sans"; }
};

// A temporary installation: ZARNIX32.INI naming its nine directories, which exist.
class Installation {
public:
    Installation() {
        for (const char* dir : {"JOB", "LIB", "SYS", "CADJOB", "ZSM_CML", "ZSM_UDN", "ZSM_MOD", "ZSM_SBK", "ZSM_WRK"})
            std::filesystem::create_directories(m_dir / dir);
        keys = {{"JobDir", m_dir / "JOB"},        {"LibDir", m_dir / "LIB"},        {"SysDir", m_dir / "SYS"},
                {"ULM3JobDir", m_dir / "CADJOB"}, {"ZSMcml", m_dir / "ZSM_CML"},    {"ZSMudn", m_dir / "ZSM_UDN"},
                {"ZSMmod", m_dir / "ZSM_MOD"},    {"ZSMsbk", m_dir / "ZSM_SBK"},    {"ZSMwrk", m_dir / "ZSM_WRK"}};
        WriteIni();
    }
    void WriteIni(const std::string& fileName = "ZARNIX32.INI") {
        std::string ini = "[Zarnix32]\r\n";
        for (const auto& [key, value] : keys) ini += key + "=" + value + "\r\n";
        WriteFile(m_dir / fileName, ini);
    }
    const std::string& Dir() const { return m_dir.Path(); }
    std::string operator/(std::string_view name) const { return m_dir / name; }

    std::map<std::string, std::string> keys;  // written in this order by WriteIni

private:
    TempDir m_dir;
};

// The program on a temporary installation, with scripted dialogs; the locale is English unless a
// test sets another.
class AppTest : public ::testing::Test {
protected:
    AppTest() : m_lang("LANG", "C"), m_lcAll("LC_ALL", nullptr), m_lcMessages("LC_MESSAGES", nullptr), m_lcType("LC_CTYPE", nullptr) {
        L32_Object_Reset();
    }
    ~AppTest() override { L32_Object_Reset(); }

    App& NewApp(const std::string& commandLine) {
        m_app = std::make_unique<App>(m_dialogs, m_fonts);
        m_app->commandLine = commandLine;
        m_app->executableDirectory = [] { return std::string("/opt/zarnix/bin"); };
        ConnectHandlers(*m_app);
        return *m_app;
    }
    // Starts the program on the installation ("<dir>" or "<dir>,TRELM").
    App& Start(bool builder = false) {
        App& app = NewApp("\"" + m_suite.Dir() + (builder ? ",TRELM" : "") + "\"");
        EXPECT_EQ(Form_Load(app), StartupOutcome::Ready);
        return app;
    }
    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> texts;
        for (const auto& box : m_dialogs.Boxes()) texts.push_back(box.text);
        return texts;
    }

    ScopedEnv m_lang, m_lcAll, m_lcMessages, m_lcType;
    Installation m_suite;
    ui::ScriptedDialogs m_dialogs;
    FakeFonts m_fonts;
    std::unique_ptr<App> m_app;
};

}  // namespace zrx::test
