// Undo as a property: for any upgrade list over any small installation, applying it and rolling it
// back gives the installation back, and every row the summary calls copied compares the same
// afterwards. rapidcheck draws the installations and lists (duplicate rows, other spellings of
// new and existing targets, links to files and libraries, older and newer files, Yes and No
// answers) and shrinks a failure to its smallest case.
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <array>
#include <filesystem>

#include "history/rollback.h"
#include "preview/change_preview.h"
#include "support/contents.h"
#include "support/upgrade_fixture.h"

namespace zrx {
namespace {

namespace fs = std::filesystem;
using test::MakeLibrary;
using test::ModelJson;
using test::PartJson;
using test::SymbolJson;

// One of a few texts: elements and files drawn from few versions are often alike, so that "same",
// "changed" and "new" all occur.
std::string Version() { return "v" + std::to_string(*rc::gen::inRange(1, 4)); }
std::string OneOf(std::initializer_list<const char*> choices) {
    return *rc::gen::elementOf(std::vector<std::string>(choices.begin(), choices.end()));
}

class UndoPropertyTest : public test::UpgradeTest {
protected:
    // Draws the installation: libraries holding some of the elements, data files (some of them
    // links to a file elsewhere in the installation or to one of its own files no update may
    // write: the INI, the identity, the lock, the record; some newer than the upgrade's),
    // subcircuit subdirectories and the two index files (one of them perhaps a link).
    void DrawInstallation() {
        auto someOf = [](std::initializer_list<const char*> names, auto json) {
            std::vector<std::string> elements;
            for (const char* name : names)
                if (*rc::gen::arbitrary<bool>()) elements.push_back(json(name));
            return elements;
        };
        if (*rc::gen::arbitrary<bool>())
            MakeLibrary(m_suite / "LIB/Logic.PART", true, someOf({"A", "B"}, [](const char* n) { return PartJson(n, Version()); }));
        if (*rc::gen::arbitrary<bool>()) {
            // The symbol library, perhaps a link to a library kept elsewhere in the installation.
            const bool linked = *rc::gen::arbitrary<bool>();
            const std::string file = m_suite / (linked ? "SYS/shared.SYMBOL" : "LIB/Logic.SYMBOL");
            MakeLibrary(file, false, someOf({"S", "T"}, [](const char* n) { return SymbolJson(n, 1, {{6, Version()}}); }));
            if (linked) fs::create_symlink(file, m_suite / "LIB/Logic.SYMBOL");
        }
        if (*rc::gen::arbitrary<bool>())
            MakeLibrary(m_suite / "ZSM_MOD/Diodes.SML", false,
                        someOf({"D1", "D2"}, [](const char* n) { return ModelJson(n, "D,diode", Version()); }));
        for (const char* name : {"JOB/board.DAT", "LIB/heat.TAL", "ZSM_SBK/Sub/op.sbc"}) {
            switch (*rc::gen::inRange(0, 4)) {
                case 0: break;  // not installed
                case 1: File(m_suite / name, Version(), *rc::gen::inRange(-2, 3)); break;
                case 2: {  // a link to a file elsewhere in the installation, or to one no update may write
                    std::string real = m_suite / ("SYS/real-" + fs::path(name).filename().string());
                    switch (*rc::gen::inRange(0, 5)) {
                        case 0:
                            real = m_suite / "ZARNIX32.INI";
                            break;
                        case 1:
                            real = m_suite / ".zrxlibug.id";
                            break;
                        case 2:
                            real = m_suite / ".zrxlibug.lock";
                            break;
                        case 3:
                            real = m_suite / ".zrxlibug/history/history.db";
                            break;
                        default:
                            File(real, Version(), *rc::gen::inRange(-2, 3));
                    }
                    fs::create_directories(fs::path(m_suite / name).parent_path());
                    fs::create_symlink(real, m_suite / name);
                    break;
                }
                default:  // a link to nothing
                    fs::create_directories(fs::path(m_suite / name).parent_path());
                    fs::create_symlink(m_suite / "SYS/nothing", m_suite / name);
            }
        }
        if (*rc::gen::arbitrary<bool>()) fs::create_directories(m_suite / "ZSM_SBK/New");
        const std::string modpar = "D||OTHER|D9|x\r\nD||DIODES|D1|" + Version() + "\r\n";
        if (*rc::gen::arbitrary<bool>()) {
            File(m_suite / "SYS/modpar.real", modpar, 0);
            fs::create_symlink(m_suite / "SYS/modpar.real", m_suite / "ZSM_MOD/modpar.idx");
        } else {
            File(m_suite / "ZSM_MOD/modpar.idx", modpar, 0);
        }
        File(m_suite / "ZSM_SBK/Subcir.idx", "X|Y|library|y|OTHER| y\r\n", 0);
    }

    // Draws the upgrade folder and its list: rows of every kind, in any order, with repeats and
    // other spellings of the installation's names.
    void DrawUpgrade() {
        MakeLibrary(m_upgrade / "Upgrade.PART", true, {PartJson("A", Version()), PartJson("B", Version())});
        MakeLibrary(m_upgrade / "A_Upg.SYMBOL", false,
                    {SymbolJson("S", 1, {{6, Version()}}), SymbolJson("T", 1, {{6, Version()}})});
        MakeLibrary(m_upgrade / "I_Upg.SYMBOL", false, {SymbolJson("S", 1, {{6, Version()}})});
        MakeLibrary(m_upgrade / "Upgrade.PACKAGE", false, {SymbolJson("S", 2, {{6, Version()}})});
        MakeLibrary(m_upgrade / "Upgrade.SPARAM", false,
                    {ModelJson("D1", "D,diode", Version()), ModelJson("D2", "D,diode", Version())});
        MakeLibrary(m_upgrade / "Upgrade.MPARAM", false, {ModelJson("M1", "M,mixed", Version())});
        for (const char* name : {"board.DAT", "BOARD.DAT", "heat.TAL", "op.sbc", "OP.SBC"}) {
            const std::string body = std::string(name).ends_with("sbc") || std::string(name).ends_with("SBC")
                                         ? ".SUBCKT OP 1 2\r\n*Op amp " + Version() + ", Opamp\r\n"
                                         : Version();
            File(m_upgrade / name, body, *rc::gen::inRange(-2, 3));
        }
        std::vector<std::string> rows;
        const int count = *rc::gen::inRange(1, 13);
        for (int i = 0; i < count; ++i) {
            switch (*rc::gen::inRange(0, 7)) {
                case 0:
                    rows.push_back("1,0,1," + OneOf({"A", "B"}) + "," +
                                   OneOf({"Logic.PART", "LOGIC.PART", "New.PART", "NEW.PART"}));
                    break;
                case 1:
                    rows.push_back("2,0,1," + OneOf({"S", "T"}) + "," +
                                   OneOf({"Logic.SYMBOL", "logic.symbol", "New.SYMBOL", "NEW.SYMBOL"}) + "," +
                                   OneOf({"A_Upg.SYMBOL", "I_Upg.SYMBOL"}));
                    break;
                case 2:
                    rows.push_back("3,0,1,S," + OneOf({"Logic.SYMBOL", "Pack.PACKAGE", "PACK.PACKAGE"}));
                    break;
                case 3:
                    rows.push_back("5,0,5," + OneOf({"D1", "D2"}) + "," +
                                   OneOf({"Diodes.SML", "DIODES.SML", "Fresh.SML", "FRESH.SML"}));
                    break;
                case 4:
                    rows.push_back("6,0,1,M1," + OneOf({"Mixed.MPARAM", "MIXED.MPARAM"}));
                    break;
                case 5:
                    rows.push_back(OneOf({"4,0,2,board.DAT", "4,0,2,BOARD.DAT", "4,0,1,heat.TAL"}));
                    break;
                default:
                    rows.push_back("4,0,9," + OneOf({"op.sbc", "OP.SBC"}) + "," + OneOf({"Sub", "SUB", "New", "NEW"}));
            }
        }
        WriteList(rows);
    }

    static void File(const std::string& path, const std::string& text, int hours) {
        test::WriteFile(path, text);
        fs::last_write_time(path, kBase + std::chrono::hours(hours));
    }

    // Whether grid row `row` was copied: the per-kind lists the run worked on hold the rows of each
    // kind in grid order.
    static bool Copied(const App& app, size_t row, std::array<size_t, 7>& seen) {
        const int kind = app.upgrade.GridRows[row].Kind;
        const size_t index = seen[static_cast<size_t>(kind)]++;
        auto copied = [index](const auto& list) { return index < list.size() && list[index].Copied == 1; };
        const UpgradeLists& l = app.upgrade.lists;
        return kind == 1   ? copied(l.PartItems)
               : kind == 2 ? copied(l.SymbolItems)
               : kind == 3 ? copied(l.PackageItems)
               : kind == 4 ? copied(l.DataFileItems)
               : kind == 5 ? copied(l.SpiceModelItems)
                           : copied(l.MixedModelItems);
    }

    static inline const fs::file_time_type kBase = fs::file_time_type::clock::now() - std::chrono::hours(100);
};

RC_GTEST_FIXTURE_PROP(UndoPropertyTest, ApplyThenRollbackGivesTheInstallationBack, ()) {
    DrawInstallation();
    DrawUpgrade();
    const auto before = test::Contents(m_suite.Dir());
    App& app = Open();
    RC_ASSERT(app.window.main.F_Deffrm.Visible());
    const bool ask = *rc::gen::arbitrary<bool>();
    if (ask) {
        app.window.main.F_OverPrompt(0).Click();
        m_dialogs.QueueAnswer(ui::Answer::Yes);  // "Are you sure ...?"
        for (int i = 0; i < 12; ++i) m_dialogs.QueueAnswer(*rc::gen::arbitrary<bool>() ? ui::Answer::Yes : ui::Answer::No);
    }
    Update(app);
    // The installation's own files are never written through a link.
    RC_ASSERT(fs::file_size(m_suite / ".zrxlibug.lock") == 0u);
    RC_ASSERT(fs::file_size(m_suite / ".zrxlibug.id") == 32u);

    // Every copied row is in place: it compares the same, unless a later copied row of its name
    // (in any spelling; symbols, packages and models share libraries) wrote over it.
    const preview::RowChanges changes = preview::CompareRows(
        app.upgrade.GridRows, app.installation.env, {app.upgrade.ListPath, app.upgrade.UpgLibPath, nullptr});
    std::array<size_t, 7> seen{};
    std::vector<bool> copied;
    for (size_t i = 0; i + 1 < app.upgrade.GridRows.size(); ++i) copied.push_back(Copied(app, i, seen));
    for (size_t i = 0; i < copied.size(); ++i) {
        if (!copied[i]) continue;
        bool overwritten = false;
        for (size_t j = i + 1; j < copied.size(); ++j)
            overwritten = overwritten || (copied[j] && EqualsIgnoreCase(app.upgrade.GridRows[j].Name,
                                                                        app.upgrade.GridRows[i].Name));
        if (overwritten) continue;
        RC_LOG() << test::ReadFile(m_upgrade / "Upgrade.lst") << "row " << i + 1 << ": "
                 << preview::ChangeWord(changes.changes[i]) << " " << changes.ReasonOf(i) << "\n";
        RC_ASSERT(preview::ChangeWord(changes.changes[i]) == std::string_view("same"));
    }

    const auto result = history::Rollback(app.installation.env, std::nullopt, false);
    RC_LOG() << test::ReadFile(m_upgrade / "Upgrade.lst") << result.message;
    for (const std::string& conflict : result.conflicts) RC_LOG() << "left alone: " << conflict << "\n";
    RC_ASSERT(result.conflicts.empty());
    const auto after = test::Contents(m_suite.Dir());
    for (const auto& [path, what] : before)
        if (!after.count(path) || after.at(path) != what) RC_LOG() << "not as before: " << path << "\n";
    for (const auto& [path, what] : after)
        if (!before.count(path)) RC_LOG() << "new: " << path << "\n";
    RC_ASSERT(after == before);
}

}  // namespace
}  // namespace zrx
