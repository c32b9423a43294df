// What a build writes reads back as what was chosen, as a property: rapidcheck draws the choices
// (odd names with commas, quotes and blanks, every kind of element and file, two files of one
// name, names the folder's own files have, targets and descriptions), made on a builder's state by
// the routines the window and the command line call, and the test works out on its
// own, from the choices and the rules of choosing, what the builder takes. The built folder, loaded
// as the update run loads it, offers exactly that (kind, name, target and description, the
// source's element or bytes), the build names no difference, and the loaded list, reloaded into a
// new builder, builds the same list again.
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <algorithm>
#include <filesystem>

#include "apply/targets.h"
#include "base/paths.h"
#include "base/text_utils.h"
#include "builder/builder_lists.h"
#include "builder/list_reload.h"
#include "builder/upgrade_writer.h"
#include "program/upgrade_pages.h"
#include "support/folder.h"
#include "support/upgrade_fixture.h"
#include "upgrade_list/list_format.h"

namespace zrx {
namespace {

namespace fs = std::filesystem;
using test::MakeLibrary;
using test::ModelJson;
using test::PartJson;
using test::SymbolJson;

std::string OneOf(std::initializer_list<const char*> choices) {
    return *rc::gen::elementOf(std::vector<std::string>(choices.begin(), choices.end()));
}
// A name as JSON holds it.
std::string Json(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '"' ? std::string("\\\"") : std::string(1, c);
    return out;
}

const char* const kNames[] = {"A", "B,1", "\"Q", " LEAD", "X Y", "Z\"z", "T "};

// What a user expects the builder to take of the choices, worked out from the rules of choosing
// alone: a name the list cannot write (a double quote where it needs quotes) is refused, as are
// symbols, packages and models with blanks around their names and loose files named like the
// folder's own files; an element chosen again is taken once (symbols every time), and a loose
// file of a name another folder's file has is refused.
struct Entry {
    int kind;  // the record type
    std::string name, targetLib, fileType, source;
    int32_t code = 0;  // a file's target code
};
struct Expectation {
    std::vector<Entry> parts, symbols, packages, sparams, mparams, misc, tals, dats, spcs, sbcs;

    static bool Listable(const std::string& text) {
        const bool quotes = text.find(',') != std::string::npos || (!text.empty() && text.front() == '"');
        return !quotes || text.find('"') == std::string::npos;
    }
    void Element(int kind, const std::string& library, const std::string& dir, const std::string& name) {
        std::vector<Entry>& table = kind == 1   ? parts
                                    : kind == 2 ? symbols
                                    : kind == 3 ? packages
                                    : kind == 5 ? sparams
                                                : mparams;
        if (!Listable(name) || (kind != 1 && TrimBlanks(name) != name)) return;
        if (kind != 2 && std::any_of(table.begin(), table.end(),
                                     [&](const Entry& e) { return ToUpper(e.name) == ToUpper(name); }))
            return;
        table.push_back({kind, name, library, {}, JoinPath(dir, library)});
    }
    // A loose file; false when it is refused.
    bool File(std::vector<Entry>& table, const std::string& name, const std::string& dir,
              const std::string& subDir, const std::string& fileType, int32_t code) {
        if (!Listable(name) || EqualsIgnoreCase(name, "Upgrade.lst")) return false;
        for (const auto* other : {&misc, &tals, &dats, &spcs, &sbcs})
            for (const Entry& e : *other)
                if (EqualsIgnoreCase(e.name, name) && !(e.name == name && e.source == dir)) return false;
        if (&table != &misc && std::any_of(table.begin(), table.end(),
                                           [&](const Entry& e) { return ToUpper(e.name) == ToUpper(name); }))
            return true;  // taken once
        if (&table == &misc && std::any_of(table.begin(), table.end(), [&](const Entry& e) {
                return e.name == name && e.code == code && e.fileType == fileType;
            }))
            return true;  // the same line again
        table.push_back({4, name, subDir, fileType, dir, code});
        return true;
    }
    // In the order the grid offers them: the element kinds, then the files in the list's order.
    std::vector<Entry> Offered() const {
        std::vector<Entry> all;
        for (const auto* table :
             {&parts, &symbols, &packages, &sparams, &mparams, &misc, &tals, &dats, &spcs, &sbcs})
            all.insert(all.end(), table->begin(), table->end());
        return all;
    }
};

class BuildPropertyTest : public test::AppTest {
protected:
    void Install() {
        std::vector<std::string> parts, symbols, packages, models;
        for (const char* name : kNames) {
            parts.push_back(PartJson(Json(name), OneOf({"a", "b"})));
            symbols.push_back(SymbolJson(Json(name), 1, {{6, OneOf({"a", "b"})}}));
            packages.push_back(SymbolJson(Json(name), 2, {{6, "p"}}));
            models.push_back(ModelJson(Json(name), "D,d", OneOf({"a", "b"})));
        }
        for (const char* lib : {"LIB/Logic.PART", "LIB/x,y.PART"}) MakeLibrary(m_suite / lib, true, parts);
        for (const char* lib : {"LIB/Logic.SYMBOL", "LIB/i_x.SYMBOL"}) MakeLibrary(m_suite / lib, false, symbols);
        MakeLibrary(m_suite / "LIB/Std.PACKAGE", false, packages);
        MakeLibrary(m_suite / "ZSM_MOD/V.SPARAM", false, models);
        MakeLibrary(m_suite / "LIB/M.MPARAM", false, models);
        for (const char* file : {"LIB/a.TAL", "JOB/b,c.DAT", "JOB/\"d.DAT", "SYS/p q.SPC", "SYS/n.txt", "SYS/b,c.DAT",
                                 "SYS/Upgrade.lst", "ZSM_SBK/OPAMPS/op.sbc", "ZSM_SBK/a,b/op.sbc"})
            test::WriteFile(m_suite / file, std::string(file) + " " + OneOf({"1", "2"}));
    }
    App& A() { return *m_app; }
    const Environment& Env() { return A().installation.env; }
    // Chooses as the builder's frames do, by the routines the window and the command line call.
    void Choose(int kind, const std::string& library, const std::string& name) {
        ChooseElements(m_builder, Env(), m_dialogs, kind, library, {name});
        static const int kRecords[] = {1, 2, 3, 5, 6};
        m_expected.Element(kRecords[kind], library, m_suite / (kind == 3 ? "ZSM_MOD" : "LIB"), name);
    }
    void ChooseLoose(int frame, const std::string& dir, const std::string& name, std::vector<Entry>& table,
                     int32_t code, const std::string& sub = {}) {
        ChooseFiles(m_builder, Env(), m_dialogs, frame, dir, {name}, sub);
        m_expected.File(table, name, dir, sub, {}, code);
    }
    // One drawn choice of any kind.
    void DrawChoice() {
        const std::string name = *rc::gen::elementOf(std::vector<std::string>(std::begin(kNames), std::end(kNames)));
        switch (*rc::gen::inRange(0, 9)) {
            case 0:
                Choose(kParts, OneOf({"Logic.PART", "x,y.PART"}), name);
                break;
            case 1:
                Choose(kSymbols, OneOf({"Logic.SYMBOL", "i_x.SYMBOL"}), name);
                break;
            case 2:
                Choose(kPackages, "Std.PACKAGE", name);
                break;
            case 3:
                Choose(kSparams, "V.SPARAM", name);
                break;
            case 4:
                Choose(kMparams, "M.MPARAM", name);
                break;
            case 5:
                ChooseLoose(kTalFiles, m_suite / "LIB", "a.TAL", m_expected.tals, 1);
                ChooseLoose(kDatFiles, m_suite / "JOB", OneOf({"b,c.DAT", "\"d.DAT"}), m_expected.dats, 2);
                break;
            case 6:
                ChooseLoose(kSpcFiles, m_suite / "SYS", "p q.SPC", m_expected.spcs, 3);
                break;
            case 7: {
                const std::string sub = OneOf({"OPAMPS", "a,b"});
                ChooseLoose(kSbcFiles, m_suite / ("ZSM_SBK/" + sub), "op.sbc", m_expected.sbcs, 9, sub);
                break;
            }
            default: {
                const int target = *rc::gen::inRange(0, static_cast<int>(kTargetTexts.size()));
                const std::string description =
                    OneOf({"", "Notes, v2", "\"Quoted\" notes", "He said \"hi\"", " spaced "});
                const std::string file = OneOf({"n.txt", "b,c.DAT", "Upgrade.lst"});
                ChooseMiscFile(m_builder, Env(), m_dialogs, m_suite / "SYS", file,
                               std::string(kTargetTexts[static_cast<size_t>(target)]), description);
                // The description as the list holds it: one line, without blanks around it, its
                // double quotes single where it needs quotes of its own.
                std::string listed = TrimBlanks(description);
                if (!Expectation::Listable(listed)) std::replace(listed.begin(), listed.end(), '"', '\'');
                m_expected.File(m_expected.misc, file, m_suite / "SYS", {},
                                listed.empty() ? "Misc File" : listed, target + 1);
            }
        }
    }
    BuilderState m_builder;
    test::TempDir m_dest;
    Expectation m_expected;
};

RC_GTEST_FIXTURE_PROP(BuildPropertyTest, WhatABuildWritesReadsBackAsChosen, ()) {
    Install();
    Start(true);
    const int choices = *rc::gen::inRange(1, 8);
    for (int i = 0; i < choices; ++i) DrawChoice();
    SetDestinationFolder(m_builder, m_dest.Path());
    const bool listOnly = *rc::gen::arbitrary<bool>();
    m_builder.listOnly = listOnly;
    BuildUpgrade(m_builder, Env(), m_dialogs, A().run.AskOverwrite);
    const BuildReport& report = m_builder.lastBuild;
    RC_ASSERT(report.listWritten);
    std::string named;
    for (const std::string& difference : report.differences) named += difference + "\n";
    RC_LOG() << test::ReadFile(m_dest / "Upgrade.lst") << "named:\n" << named;
    // Everything the rules let through is built: the build names no difference.
    RC_ASSERT(report.differences.empty());

    // The folder as the update run loads it.
    m_app.reset();
    App& loader = NewApp("\"" + m_suite.Dir() + "\"");
    RC_ASSERT(Form_Load(loader) == StartupOutcome::Ready);
    RC_ASSERT(LoadUpgrade(loader, m_dest.Path()));
    const std::vector<Entry> expected = m_expected.Offered();
    RC_ASSERT(loader.upgrade.GridRows.size() == expected.size() + 1);
    for (size_t row = 0; row < expected.size(); ++row) {
        const Entry& e = expected[row];
        const GridRow offered = loader.upgrade.GridRows[row];
        RC_LOG() << "row " << row << ": \"" << e.name << "\"\n";
        RC_ASSERT(offered.Kind == e.kind);
        RC_ASSERT(std::string(offered.Name) == e.name);
        if (e.kind != 4) RC_ASSERT(std::string(offered.TargetLib) == e.targetLib);
        if (e.kind == 4)
            RC_ASSERT(std::string(offered.TargetLib) ==
                      (e.code == 9 ? e.targetLib : TargetDirForCode(e.code, loader.installation.env)));
        if (e.kind == 4 && !e.fileType.empty()) RC_ASSERT(std::string(offered.FileType) == e.fileType);
        if (listOnly) continue;
        if (e.kind != 4) {
            const std::string& upgrade =
                UpgradeLibraryOf(loader.upgrade.UpgLibPath, e.kind, offered.UpgSymbolLib);
            const auto built = ExportElement(upgrade, e.name);
            RC_ASSERT(static_cast<bool>(built));
            RC_ASSERT(*built == ExportElement(e.source, e.name).value_or(""));
        } else {
            RC_ASSERT(test::ReadFile(m_dest / e.name) == test::ReadFile(JoinPath(e.source, e.name)));
        }
    }

    // The loaded list reloaded into a new builder's state builds the same list again.
    BuilderState again;
    ReloadUpgradeListIntoBuilder(again, loader.upgrade, loader.installation.env, m_dialogs);
    RC_ASSERT(again.notReloaded == 0u);
    test::TempDir rebuilt;
    SetDestinationFolder(again, rebuilt.Path());
    again.listOnly = true;
    BuildUpgrade(again, loader.installation.env, m_dialogs, false);
    RC_ASSERT(test::ReadFile(rebuilt / "Upgrade.lst") == test::ReadFile(m_dest / "Upgrade.lst"));
}

}  // namespace
}  // namespace zrx
