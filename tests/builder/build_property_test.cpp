// What a build writes reads back as what was chosen, as a property: rapidcheck draws the choices
// (odd names with commas, quotes and blanks, every kind of element and file, two files of one
// name, names the folder's own files have, targets and descriptions) and checks the built folder
// independently, loaded as the update run loads it: every entry the builder took is offered with
// its kind, name, target and description, and its element or bytes are the source's, or the build
// names it as a difference; a build that names none is whole.
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <algorithm>
#include <filesystem>

#include "apply/targets.h"
#include "base/paths.h"
#include "support/builder_choice.h"
#include "support/upgrade_fixture.h"
#include "upgrade_list/list_format.h"

namespace zrx {
namespace {

namespace fs = std::filesystem;
using test::ChooseFile;
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
    void Choose(int kind, const std::string& library, const std::string& name) {
        A().window.main.M_Fileitems(kind).Click();
        test::ChooseElement(A().window.main, kind, library, name);
    }
    // One drawn choice of any kind.
    void DrawChoice() {
        ui::MainForm& m = A().window.main;
        const std::string name = *rc::gen::elementOf(std::vector<std::string>(std::begin(kNames), std::end(kNames)));
        switch (*rc::gen::inRange(0, 9)) {
            case 0: Choose(0, OneOf({"Logic.PART", "x,y.PART"}), name); break;
            case 1: Choose(1, OneOf({"Logic.SYMBOL", "i_x.SYMBOL"}), name); break;
            case 2: Choose(2, "Std.PACKAGE", name); break;
            case 3: Choose(3, "V.SPARAM", name); break;
            case 4: Choose(4, "M.MPARAM", name); break;
            case 5:
                m.M_Fileitems(6).Click();
                ChooseFile(m.F_Thermtal, m.F_Talmove, "a.TAL");
                m.M_Fileitems(7).Click();
                ChooseFile(m.F_Thermdat, m.F_Datmove, OneOf({"b,c.DAT", "\"d.DAT"}));
                break;
            case 6:
                m.M_Fileitems(8).Click();
                ChooseFile(m.F_Profitem, m.F_SPCmove, "p q.SPC");
                break;
            case 7:
                m.M_Fileitems(5).Click();
                m.F_sbcdir.SetPath(m_suite / ("ZSM_SBK/" + OneOf({"OPAMPS", "a,b"})));
                m.F_sbcdir.onChange();
                ChooseFile(m.F_SBCItem, m.F_Sbcmove, "op.sbc");
                break;
            default:
                m.M_Fileitems(9).Click();
                m.F_MiscDir.SetPath(m_suite / "SYS");
                m.F_MiscDir.onChange();
                m.F_Syspath.UserSelect(*rc::gen::inRange(0, 8));
                m.F_Filedesc.SetText(OneOf({"", "Notes, v2", "\"Quoted\" notes", "He said \"hi\"", " spaced "}));
                ChooseFile(m.F_Miscitem, m.F_MiscMove, OneOf({"n.txt", "b,c.DAT", "Upgrade.lst"}));
                m.F_Miscitem.SetListIndex(-1);
        }
    }
    test::TempDir m_dest;
};

RC_GTEST_FIXTURE_PROP(BuildPropertyTest, WhatABuildWritesReadsBackAsChosenOrIsNamed, ()) {
    Install();
    Start(true);
    const int choices = *rc::gen::inRange(1, 8);
    for (int i = 0; i < choices; ++i) DrawChoice();
    ui::MainForm& m = A().window.main;
    m.M_Build.Click();
    m.F_Dir.SetPath(m_dest.Path());
    m.F_Dir.onChange();
    const bool listOnly = *rc::gen::arbitrary<bool>();
    (listOnly ? m.F_Clstfile(0) : m.F_Clstfile(1)).Click();
    m.F_Create.Click();
    const BuildReport report = A().builder.lastBuild;
    RC_ASSERT(report.listWritten);
    std::string named;
    for (const std::string& difference : report.differences) named += difference + "\n";
    RC_LOG() << test::ReadFile(m_dest / "Upgrade.lst") << "named:\n" << named;

    // What the builder took, in the order the list holds it.
    struct Entry {
        int kind;
        std::string name, targetLib, fileType, source;
        int32_t code = 0;  // a file's target code
    };
    std::vector<Entry> expected;
    const BuilderTables t = A().builder.tables;
    const std::pair<int, std::pair<const std::vector<UpgElement>*, const std::vector<SourceLib>*>> elements[] = {
        {1, {&t.UpgParts, &t.PartSources}},     {2, {&t.UpgSymbols, &t.SymbolSources}},
        {3, {&t.UpgPackages, &t.PackageSources}}, {5, {&t.UpgSparams, &t.SparamSources}},
        {6, {&t.UpgMparams, &t.MparamSources}}};
    for (const auto& [kind, tables] : elements)
        for (size_t i = 0; i + 1 < tables.first->size(); ++i) {
            const SourceLib& source = (*tables.second)[static_cast<size_t>((*tables.first)[i].SourceIndex)];
            expected.push_back({kind, (*tables.first)[i].Name, source.FileName, {}, JoinPath(source.Dir, source.FileName)});
        }
    for (size_t i = 0; i + 1 < t.UpgMiscFiles.size(); ++i)
        expected.push_back({4, t.UpgMiscFiles[i].FileName, {},
                            t.UpgMiscFiles[i].Description.empty() ? "Misc File" : t.UpgMiscFiles[i].Description,
                            t.UpgMiscFiles[i].SourceDir, t.UpgMiscFiles[i].TargetCode});
    for (const auto& [table, dir] : {std::pair{&t.UpgTalFiles, m_suite / "LIB"}, std::pair{&t.UpgDatFiles, m_suite / "JOB"},
                                     std::pair{&t.UpgSpcFiles, m_suite / "SYS"}})
        for (size_t i = 0; i + 1 < table->size(); ++i)
            expected.push_back({4, (*table)[i].FileName, {}, {}, dir, (*table)[i].KindCode});
    for (size_t i = 0; i + 1 < t.UpgSbcFiles.size(); ++i)
        expected.push_back({4, t.UpgSbcFiles[i].FileName, t.UpgSbcFiles[i].SubDir, {}, t.UpgSbcFiles[i].SourceDir, 9});

    // The folder as the update run loads it.
    m_app.reset();
    App& loader = NewApp("\"" + m_suite.Dir() + "\"");
    RC_ASSERT(Form_Load(loader) == StartupOutcome::Ready);
    loader.window.main.F_lstdir.SetPath(m_dest.Path());
    loader.window.main.F_lstok.Click();
    std::vector<Entry> offered;
    for (size_t i = 0; i + 1 < loader.upgrade.GridRows.size(); ++i) {
        const GridRow row = loader.upgrade.GridRows[i];
        offered.push_back({row.Kind, std::string(row.Name), std::string(row.TargetLib), std::string(row.FileType), {}});
    }
    // The grid offers the kinds in its own order: files last.
    std::stable_sort(expected.begin(), expected.end(), [](const Entry& a, const Entry& b) {
        auto order = [](int kind) { return kind == 4 ? 7 : kind; };
        return order(a.kind) < order(b.kind);
    });
    size_t row = 0;
    for (const Entry& e : expected) {
        bool whole = row < offered.size() && offered[row].kind == e.kind && offered[row].name == e.name;
        if (whole && e.kind != 4) whole = offered[row].targetLib == e.targetLib;
        if (whole && e.kind == 4)
            whole = offered[row].targetLib ==
                    (e.code == 9 ? e.targetLib : TargetDirForCode(e.code, loader.installation.env));
        if (whole && e.kind == 4 && !e.fileType.empty()) whole = offered[row].fileType == e.fileType;
        if (whole && !listOnly && e.kind != 4) {
            std::string error;
            const std::string& upgrade = UpgradeLibraryOf(loader.upgrade.UpgLibPath, e.kind,
                                                          loader.upgrade.GridRows[row].UpgSymbolLib);
            const auto built = ExportElement(upgrade, e.name, error);
            whole = built && built == ExportElement(e.source, e.name, error);
        }
        if (whole && !listOnly && e.kind == 4)
            whole = test::ReadFile(m_dest / e.name) == test::ReadFile(JoinPath(e.source, e.name));
        if (!whole) RC_LOG() << "not whole: \"" << e.name << "\"\n";
        // Either it reads back whole, or the build named it.
        RC_ASSERT(whole || named.find("\"" + Printable(e.name) + "\"") != std::string::npos);
        if (row < offered.size() && offered[row].name == e.name) ++row;
    }
    RC_ASSERT(!report.differences.empty() || row == offered.size());
}

}  // namespace
}  // namespace zrx
