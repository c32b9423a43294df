#pragma once

#include <string>
#include <vector>

#include "kernel/library_exchange.h"
#include "support/app_fixture.h"
#include "upgrade_list/list_format.h"

namespace zrx::test {

inline std::string PartJson(const std::string& name, const std::string& text1 = "PART") {
    return R"({"name":")" + name + R"(","device":{"text1":")" + text1 +
           R"(","text2":"TTL","supply_pins":[{"number":14,"name":"VCC"}],"groups":[{"name":"A","text2":"G","pins":[{"number":1,"name":"A"}]}]}})";
}
inline std::string SymbolJson(const std::string& name, int cls, const std::vector<std::pair<int, std::string>>& items) {
    std::string list;
    for (const auto& [kind, text] : items)
        list += (list.empty() ? "" : ",") + std::string(R"({"kind":)") + std::to_string(kind) + R"(,"text":")" + text + "\"}";
    return R"({"name":")" + name + R"(","symbol":{"class":)" + std::to_string(cls) + R"(,"items":[)" + list + "]}}";
}
inline std::string ModelJson(const std::string& name, const std::string& first, const std::string& second) {
    return SymbolJson(name, 3, {{6, first}, {6, second}});
}

inline void MakeLibrary(const std::string& path, bool parts, const std::vector<std::string>& elements) {
    std::string list;
    for (const std::string& e : elements) list += (list.empty() ? "" : ",") + e;
    const std::string doc =
        std::string(R"({"kind":")") + (parts ? "ZarnixDLL00" : "ZarnixSLL00") + R"(","elements":[)" + list + "]}";
    if (const Outcome imported = ImportLibrary(path, doc); !imported) ADD_FAILURE() << imported.Why();
}

// Names of a library's elements, or "<unreadable>".
inline std::vector<std::string> LibraryNames(const std::string& path) {
    return ListLibrary(path).value_or({"<unreadable>"});
}

// An installation and an upgrade folder; the test fills the upgrade's libraries and list.
class UpgradeTest : public AppTest {
protected:
    void WriteList(const std::vector<std::string>& records) {
        std::string text = std::string(kHeaderLine) + "\r\n";
        for (const std::string& record : records) text += record + "\r\n";
        text += std::string(kEndLine) + "\r\n";
        WriteFile(m_upgrade / "Upgrade.lst", text);
    }
    // Starts the program, loads the upgrade and goes to the update page.
    App& Open() {
        App& app = Start();
        app.window.main.F_lstdir.SetPath(m_upgrade.Path());
        app.window.main.F_lstok.Click();
        EXPECT_TRUE(app.window.main.F_Msg.Visible()) << (BoxTexts().empty() ? "" : BoxTexts().back());
        app.window.main.F_Proceed.Click();
        return app;
    }
    // Presses Update; the summary is read and left with Back (or Finish).
    void Update(App& app, bool finish = false) {
        m_dialogs.OnModal([this, finish](ui::Form& form) {
            m_summaryRows.clear();
            auto* grid = static_cast<ui::Grid*>(form.Find("F_Resgrid"));
            for (int r = 0; r < grid->Rows(); ++r) {
                std::vector<std::string> row;
                for (int c = 0; c < 5; ++c) row.push_back(grid->TextMatrix(r, c));
                m_summaryRows.push_back(row);
            }
            if (m_whileSummary) m_whileSummary(form);
            static_cast<ui::Button*>(form.Find(finish ? "F_Finish" : "F_PrevDef"))->Click();
        });
        app.window.main.F_Update.Click();
    }
    // The status column of the summary rows, by element name.
    std::string StatusOf(const std::string& name) const {
        for (const auto& row : m_summaryRows)
            if (row[0] == name) return row[3];
        return "<no row>";
    }

    TempDir m_upgrade;
    std::vector<std::vector<std::string>> m_summaryRows;
    std::function<void(ui::Form&)> m_whileSummary;
};

}  // namespace zrx::test
