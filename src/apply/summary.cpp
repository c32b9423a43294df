#include "apply/summary.h"

#include "apply/targets.h"
#include "history/undo_action.h"
#include "shell/app.h"
#include "shell/main_window.h"
#include "shell/messages.h"
#include "shell/text_file.h"
#include "shell/text_utils.h"
#include "ui/dialogs.h"
#include "ui/forms/summary_form.h"

namespace zrx {

namespace {

std::string DataFileType(const DataFileItem& item) {
    if (!item.FileType.empty()) return item.FileType;
    const std::string ending(Right(ToUpper(TrimBlanks(item.Name)), 4));
    if (ending == ".DAT") return GetLocalMessage("Thermal data file", 4454);
    if (ending == ".TAL") return GetLocalMessage("Thermal analyzer file", 4455);
    if (ending == ".SPC") return GetLocalMessage("Spice profile file", 4456);
    if (ending == ".SML") return GetLocalMessage("Spice Model Lib File", 4457);
    if (ending == ".DLL") return GetLocalMessage("System File", 4458);
    if (ending == ".MPL") return GetLocalMessage("Mixed Mode Parameter Lib File", 4469);
    if (ending == ".SBC") return "Spice subcicuit file";
    return GetLocalMessage("Misc Lib file", 4459);
}

}  // namespace

void FillSummary(App& app, ui::SummaryForm& form) {
    app.SummaryFinished = false;
    ui::Grid& grid = form.F_Resgrid;
    ui::Control::UpdateBlock block(grid);
    const UpgradeLists& l = app.lists;
    auto count = [](const auto& list) { return IsPlaceholder(list) ? 0 : static_cast<int>(list.size()); };
    grid.SetCols(5);
    grid.SetRows(1 + count(l.PartItems) + count(l.SymbolItems) + count(l.PackageItems) + count(l.DataFileItems) +
                 count(l.SpiceModelItems) + count(l.MixedModelItems));
    grid.SetFixedRows(1);
    grid.SetFixedCols(0);
    const struct {
        std::string header;
        const char* sample;
    } columns[] = {{GetLocalMessage("Library Elements", 4429), "Library ElementS "},
                   {GetLocalMessage("Library", 4430), " Library Name   "},
                   {GetLocalMessage("Target Dir", 4431), " Target Dir "},
                   {GetLocalMessage("Status", 4432), "XXXXXXXXXXXX"},
                   {GetLocalMessage("Filetype", 4453), "XXXXXXXXXXXXXXXXXXXXXXX"}};
    for (int c = 0; c < 5; ++c) {
        grid.SetTextMatrix(0, c, columns[c].header);
        grid.SetColWidth(c, app.dialogs.TextWidth(columns[c].sample, app.uiFont));
    }
    int row = 1;
    auto write = [&](const std::string& name, const std::string& library, const std::string& dir, bool copied,
                     const char* notCopied, const std::string& fileType) {
        grid.SetTextMatrix(row, 0, name);
        grid.SetTextMatrix(row, 1, library);
        grid.SetTextMatrix(row, 2, dir);
        grid.SetTextMatrix(row, 3, copied ? GetLocalMessage("Copied", 4434) : GetLocalMessage(notCopied, "4433 "));
        grid.SetTextMatrix(row, 4, fileType);
        ++row;
    };
    auto elements = [&](const std::vector<ElementItem>& list, const std::string& dir, const char* notCopied,
                        const std::string& fileType, bool trimName) {
        if (IsPlaceholder(list)) return;
        for (const ElementItem& item : list)
            if (item.Update == 1)
                write(trimName ? TrimBlanks(item.Name) : item.Name, item.TargetLib, dir, item.Copied != 0, notCopied,
                      fileType);
    };
    const Environment& env = app.env;
    elements(l.PartItems, env.LibDir, "Not Copied", GetLocalMessage("Part file", "4466 "), false);
    elements(l.SymbolItems, env.LibDir, "Not copied", GetLocalMessage("Symbol ", 4467), false);
    elements(l.PackageItems, env.LibDir, "Not copied", GetLocalMessage("Package", 4468), true);
    if (!IsPlaceholder(l.DataFileItems)) {
        for (const DataFileItem& item : l.DataFileItems) {
            if (item.Update != 1 || item.Withheld != 0) continue;
            const bool subcircuit = IsSubcircuitFile(item.Name);
            write(item.Name, subcircuit ? item.TargetLib : item.TargetDir, item.TargetDir, item.Copied != 0,
                  "Not copied", DataFileType(item));
        }
    }
    elements(l.SpiceModelItems, env.ZSMmod, "Not copied", GetLocalMessage("Spice Model lib file", 4457), false);
    elements(l.MixedModelItems, env.LibDir, "Not copied", GetLocalMessage("Mixedmode parameter lib file", 4469), false);
}

bool WriteSummaryFile(const ui::Grid& grid, const std::string& path, std::string& error) {
    auto output = TextOutput::Open(path);
    if (!output) {
        error = "the file cannot be created there";
        return false;
    }
    for (int r = 1; r < grid.Rows(); ++r)
        output->WriteLine(grid.TextMatrix(r, 0) + "\t" + grid.TextMatrix(r, 1) + "\t" + grid.TextMatrix(r, 2) + "\t" +
                          grid.TextMatrix(r, 3));
    if (!output->Commit()) {
        error = output->Error();
        return false;
    }
    return true;
}

void F_Save_Click(App& app, ui::SummaryForm& form) {
    const auto chosen = app.dialogs.AskSaveFileName({"TXT", "Text Files (*.TXT)|*.TXT", "Upginfo"});
    if (!chosen || chosen->empty() || TrimBlanks(*chosen) == "Upginfo") return;
    std::string error;
    if (!WriteSummaryFile(form.F_Resgrid, *chosen, error))
        app.dialogs.ShowMessage({"The summary could not be saved to " + *chosen + ": " + error, std::string(kAppTitle),
                                 ui::Icon::Warning, ui::Buttons::Ok, false});
}

void ShowSummary(App& app) {
    ui::SummaryForm form;
    form.onActivate = [&app, &form] { FillSummary(app, form); };
    form.F_Save.onClick = [&app, &form] { F_Save_Click(app, form); };
    form.F_Finish.onClick = [&app, &form] {
        app.SummaryFinished = true;
        form.SetVisible(false);
    };
    form.F_PrevDef.onClick = [&form] { form.SetVisible(false); };
    form.F_Help.onClick = [&app] { ShowHelp(app); };
    ConnectUndo(form, app.dialogs, app.env, app.lastRunId, app.changeColumn);
    form.onActivate();
    app.openForms.push_back(&form);
    app.dialogs.ShowModal(form);
    std::erase(app.openForms, &form);
}

}  // namespace zrx
