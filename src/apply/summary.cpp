#include "apply/summary.h"

#include <optional>
#include <unordered_set>

#include "apply/targets.h"
#include "base/dialogs.h"
#include "base/messages.h"
#include "base/paths.h"
#include "base/text_file.h"
#include "base/text_utils.h"
#include "history/rollback.h"
#include "ui/forms/summary_form.h"
#include "upgrade_list/list_format.h"

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

// Where a summary row's element or file stands: its folder's real path, its file name and the
// element's name, as the undo names its places.
std::string PlaceKey(RealPaths& realPaths, const std::string& path,
                     const std::string& element) {  // file-access: names compared to show them
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
    return realPaths.Of(folder, true) + "/" + path.substr(slash + 1) + '\0' + TrimBlanks(element);
}

}  // namespace

void FillSummary(ui::SummaryForm& form, const UpgradeLists& lists, const Environment& env,
                 ui::Dialogs& dialogs, const ui::UiFont& font, const history::RollbackResult* undo) {
    ui::Grid& grid = form.F_Resgrid;
    ui::Control::UpdateBlock block(grid);
    const UpgradeLists& l = lists;
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
        grid.SetColWidth(c, dialogs.TextWidth(columns[c].sample, font));
    }
    // After an undo, a copied row says what became of it: taken back, or left as it is (changed
    // since the update). A row the run changed nothing for stays "Copied".
    RealPaths realPaths;  // file-access: the rows' places, matched with the undo's to show its outcome
    std::unordered_set<std::string> undone, left;
    if (undo != nullptr) {
        for (const auto& place : undo->undone) undone.insert(PlaceKey(realPaths, place.path, place.element));
        for (const auto& place : undo->left) left.insert(PlaceKey(realPaths, place.path, place.element));
        form.F_Result.SetCaption(std::string("Library  Update Summary") + "  (" +
                                 (undo->outcome == history::RollbackResult::Outcome::Restored
                                      ? GetLocalMessage("the update was undone", 20045)
                                      : GetLocalMessage("the update was undone in part", 20046)) +
                                 ")");
    }
    int row = 1;
    auto write = [&](const std::string& name, const std::string& library, const std::string& dir, bool copied,
                     const char* notCopied, const std::string& fileType, const std::string& place,
                     const std::string& element) {
        std::string status = copied ? GetLocalMessage("Copied", 4434) : GetLocalMessage(notCopied, "4433 ");
        if (copied && undo != nullptr) {
            const std::string key = PlaceKey(realPaths, place, element);
            if (undone.contains(key)) status = GetLocalMessage("Undone", 20047);
            else if (left.contains(key)) status = GetLocalMessage("Copied, not undone", 20048);
        }
        grid.SetTextMatrix(row, 0, name);
        grid.SetTextMatrix(row, 1, library);
        grid.SetTextMatrix(row, 2, dir);
        grid.SetTextMatrix(row, 3, status);
        grid.SetTextMatrix(row, 4, fileType);
        ++row;
    };
    ResolvedNames targets;
    auto elements = [&](const std::vector<ElementItem>& list, int kind, const char* notCopied,
                        const std::string& fileType, bool trimName) {
        if (IsPlaceholder(list)) return;
        const std::string& dir = ElementTargetDir(env, kind);
        for (const ElementItem& item : list)
            if (item.Update == 1)
                write(trimName ? TrimBlanks(item.Name) : item.Name, item.TargetLib, dir, item.Copied != 0, notCopied,
                      fileType, undo != nullptr ? targets.In(dir, item.TargetLib) : std::string(), item.Name);
    };
    elements(l.PartItems, 1, "Not Copied", GetLocalMessage("Part file", "4466 "), false);
    elements(l.SymbolItems, 2, "Not copied", GetLocalMessage("Symbol ", 4467), false);
    elements(l.PackageItems, 3, "Not copied", GetLocalMessage("Package", 4468), true);
    if (!IsPlaceholder(l.DataFileItems)) {
        for (const DataFileItem& item : l.DataFileItems) {
            if (item.Update != 1 || item.Withheld != 0) continue;
            const bool subcircuit = IsSubcircuitFile(item.Name);
            write(item.Name, subcircuit ? item.TargetLib : item.TargetDir, item.TargetDir, item.Copied != 0,
                  "Not copied", DataFileType(item),
                  undo != nullptr ? DataFileTargetPath(DataFileDestinationDir(item), item.Name) : std::string(), {});
        }
    }
    elements(l.SpiceModelItems, 5, "Not copied", GetLocalMessage("Spice Model lib file", 4457), false);
    elements(l.MixedModelItems, 6, "Not copied", GetLocalMessage("Mixedmode parameter lib file", 4469), false);
}

bool WriteSummaryFile(const ui::Grid& grid, const std::string& path, std::string& error) {
    auto output = TextOutput::Open(path);  // file-access: the file the user chose in the save dialog
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

void F_Save_Click(ui::Dialogs& dialogs, ui::SummaryForm& form) {
    const auto chosen = dialogs.AskSaveFileName({"TXT", "Text Files (*.TXT)|*.TXT", "Upginfo"});
    if (!chosen || chosen->empty() || TrimBlanks(*chosen) == "Upginfo") return;
    std::string error;
    if (!WriteSummaryFile(form.F_Resgrid, *chosen, error))
        dialogs.ShowMessage({"The summary could not be saved to " + *chosen + ": " + error,
                             std::string(kAppTitle), ui::Icon::Warning, ui::Buttons::Ok, false});
}

}  // namespace zrx
