#include "apply/run_report.h"

#include <algorithm>
#include <unordered_set>

#include "apply/targets.h"
#include "base/messages.h"
#include "base/paths.h"
#include "base/text_file.h"
#include "base/text_utils.h"
#include "kernel/installation.h"
#include "upgrade_list/list_format.h"
#include "upgrade_list/loaded_list.h"
#include "upgrade_list/upgrade_items.h"

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

// The file type the summary shows for an element of a kind.
std::string ElementFileType(int kind) {
    switch (kind) {
        case kPartRecord: return GetLocalMessage("Part file", "4466 ");
        case kSymbolRecord: return GetLocalMessage("Symbol ", 4467);
        case kPackageRecord: return GetLocalMessage("Package", 4468);
        case kSparamRecord: return GetLocalMessage("Spice Model lib file", 4457);
        default: return GetLocalMessage("Mixedmode parameter lib file", 4469);
    }
}

template <typename Item>
RowOutcome OutcomeOf(const Item& item) {
    if (item.Update != 1) return RowOutcome::Skipped;
    if (item.Copied == 0) return RowOutcome::NotCopied;
    return item.Merged ? RowOutcome::Merged : RowOutcome::Copied;
}

// Where a row's element or file stands: its folder's real path, its file name and the element's
// name, as the undo names its places.
std::string PlaceKey(RealPaths& realPaths, const std::string& path,
                     const std::string& element) {  // file-access: names compared to show them
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
    return realPaths.Of(folder, true) + "/" + path.substr(slash + 1) + '\0' + TrimBlanks(element);
}

// The summary's order of the kinds.
constexpr int kSummaryOrder[] = {kPartRecord,     kSymbolRecord, kPackageRecord,
                                 kDataFileRecord, kSparamRecord, kMparamRecord};

}  // namespace

bool RunReport::AllCopied() const {
    return std::none_of(rows.begin(), rows.end(),
                        [](const ReportRow& row) { return row.summarised && row.outcome == RowOutcome::NotCopied; });
}

size_t RunReport::Count(RowOutcome outcome) const {
    return static_cast<size_t>(
        std::count_if(rows.begin(), rows.end(), [outcome](const ReportRow& row) { return row.outcome == outcome; }));
}

RunReport MakeRunReport(const UpgradeLists& lists, const GridRowTable& gridRows, const Environment& env) {
    RunReport report;
    std::array<size_t, 7> seen{};
    report.rows.reserve(gridRows.size());
    for (size_t i = 0; i + 1 < gridRows.size(); ++i) {
        const int kind = gridRows[i].Kind;
        if (kind < kPartRecord || kind > kMparamRecord) continue;
        const size_t index = seen[static_cast<size_t>(kind)]++;
        ReportRow row;
        row.kind = kind;
        row.gridIndex = i;
        if (kind == kDataFileRecord) {
            if (index >= lists.DataFileItems.size()) continue;
            const DataFileItem& item = lists.DataFileItems[index];
            row.summarised = !IsPlaceholder(lists.DataFileItems);
            row.outcome = item.Withheld != 0 ? RowOutcome::Skipped : OutcomeOf(item);
            row.why = item.Copied != 0 ? std::string() : item.Why;
            row.conflicts = item.Copied != 0 ? std::string() : item.Conflicts;
            row.name = item.Name;
            row.library = IsSubcircuitFile(item.Name) ? item.TargetLib : item.TargetDir;
            row.directory = item.TargetDir;
            row.fileType = DataFileType(item);
            row.targetDir = item.TargetDir;
            row.targetLib = item.TargetLib;
            row.element = item.Name;
        } else {
            const std::vector<ElementItem>& list = kind == kPartRecord      ? lists.PartItems
                                                   : kind == kSymbolRecord  ? lists.SymbolItems
                                                   : kind == kPackageRecord ? lists.PackageItems
                                                   : kind == kSparamRecord  ? lists.SpiceModelItems
                                                                            : lists.MixedModelItems;
            if (index >= list.size()) continue;
            const ElementItem& item = list[index];
            row.summarised = !IsPlaceholder(list);
            row.outcome = OutcomeOf(item);
            row.why = item.Copied != 0 ? std::string() : item.Why;
            row.conflicts = item.Copied != 0 ? std::string() : item.Conflicts;
            // Packages are shown without blanks around their names, as their library keeps them.
            row.name = kind == kPackageRecord ? TrimBlanks(item.Name) : item.Name;
            row.library = item.TargetLib;
            row.directory = ElementTargetDir(env, kind);
            row.fileType = ElementFileType(kind);
            row.targetDir = row.directory;
            row.targetLib = item.TargetLib;
            row.element = item.Name;
        }
        report.rows.push_back(std::move(row));
    }
    return report;
}

SummaryLine SummaryHeadings() {
    return {GetLocalMessage("Library Elements", 4429), GetLocalMessage("Library", 4430),
            GetLocalMessage("Target Dir", 4431), GetLocalMessage("Status", 4432), GetLocalMessage("Filetype", 4453)};
}

std::optional<std::string> SummaryCaption(const RunReport& report) {
    if (!report.undo) return std::nullopt;
    return std::string("Library  Update Summary") + "  (" +
           (*report.undo == history::RollbackResult::Outcome::Restored
                ? GetLocalMessage("the update was undone", 20045)
                : GetLocalMessage("the update was undone in part", 20046)) +
           ")";
}

std::vector<SummaryLine> SummaryTable(const RunReport& report) {
    std::vector<SummaryLine> table;
    table.reserve(report.rows.size());
    const std::string copied = GetLocalMessage("Copied", 4434);
    for (const int kind : kSummaryOrder) {
        const std::string notCopied = GetLocalMessage(kind == kPartRecord ? "Not Copied" : "Not copied", "4433 ");
        for (const ReportRow& row : report.rows) {
            if (row.kind != kind || !row.Selected() || !row.summarised) continue;
            std::string status = row.outcome == RowOutcome::Copied ? copied : notCopied;
            if (row.outcome == RowOutcome::Kept) status = GetLocalMessage("Kept, edited here", 20081);
            if (row.outcome == RowOutcome::Merged)
                status = GetLocalMessage("Merged with the edits here", 20083);
            if (row.outcome == RowOutcome::NotCopied && !row.conflicts.empty())
                status += " (" + GetLocalMessage("conflicting edits", 20088) + ": " + row.conflicts + ")";
            if (row.undo == UndoOutcome::Undone) status = GetLocalMessage("Undone", 20047);
            if (row.undo == UndoOutcome::Left) status = GetLocalMessage("Copied, not undone", 20048);
            table.push_back({row.name, row.library, row.directory, std::move(status), row.fileType});
        }
    }
    // The summary has a line for every offered row: those the run skipped are left empty.
    table.resize(static_cast<size_t>(std::count_if(report.rows.begin(), report.rows.end(),
                                                   [](const ReportRow& row) { return row.summarised; })));
    return table;
}

void NoteKeptEdited(RunReport& report, const std::vector<size_t>& kept) {
    const std::unordered_set<size_t> rows(kept.begin(), kept.end());
    for (ReportRow& row : report.rows)
        if (row.outcome == RowOutcome::Skipped && rows.contains(row.gridIndex))
            row.outcome = RowOutcome::Kept;
}

void NoteUndo(RunReport& report, const history::RollbackResult& result) {
    report.undo = result.outcome;
    RealPaths realPaths;  // file-access: the rows' places, matched with the undo's to show its outcome
    std::unordered_set<std::string> undone, left;
    for (const auto& place : result.undone) undone.insert(PlaceKey(realPaths, place.path, place.element));
    for (const auto& place : result.left) left.insert(PlaceKey(realPaths, place.path, place.element));
    ResolvedNames targets;
    for (ReportRow& row : report.rows) {
        row.undo = UndoOutcome::None;
        if (row.outcome != RowOutcome::Copied && row.outcome != RowOutcome::Merged) continue;
        const std::string place =
            row.kind == kDataFileRecord
                ? DataFileTargetPath(DataFileDestinationDir(row.targetDir, row.element, row.targetLib), row.element)
                : targets.In(row.targetDir, row.targetLib);
        const std::string key = PlaceKey(realPaths, place, row.kind == kDataFileRecord ? std::string() : row.element);
        if (undone.contains(key)) row.undo = UndoOutcome::Undone;
        else if (left.contains(key)) row.undo = UndoOutcome::Left;
    }
}

Outcome WriteSummaryFile(const RunReport& report, const std::string& path) {
    auto output = TextOutput::Open(path);  // file-access: the file the user chose in the save dialog
    if (!output) return Failure{"the file cannot be created there"};
    for (const SummaryLine& line : SummaryTable(report))
        output->WriteLine(line[0] + "\t" + line[1] + "\t" + line[2] + "\t" + line[3]);
    return output->Commit();
}

}  // namespace zrx
