#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/outcome.h"
#include "history/rollback.h"

namespace zrx {

struct Environment;
class GridRowTable;
struct UpgradeLists;

// What became of an offered row in the update run.
enum class RowOutcome {
    Copied,
    NotCopied,  // selected, but not copied (`ReportRow::why` says why where the run said)
    Skipped,    // its Update said NO: the run left it alone
    Kept,       // edited here since the last upgrade, and left so on purpose (RunState::KeepEdited)
    Merged,     // edited here, and the upgrade's changes merged into it (RunState::MergeEdited)
};

// What became of a copied row when the run was undone from its summary.
enum class UndoOutcome { None, Undone, Left };

// One offered row of the run, in the words of the summary.
struct ReportRow {
    int kind = 0;          // the record type, 1 to 6
    size_t gridIndex = 0;  // its row in the grid's rows (GridRows)
    RowOutcome outcome = RowOutcome::Skipped;
    std::string why;
    std::string conflicts;  // not copied: what the edits here and the upgrade changed differently
    UndoOutcome undo = UndoOutcome::None;
    // The summary's columns but the status: the element's or file's name, its library (for a file
    // its folder, or a subcircuit's subdirectory), the target directory, the file type.
    std::string name, library, directory, fileType;
    // Where it went, as the run named it: the target library (elements) or the file's folder and
    // subdirectory, and the element's name as listed; the undo's places are matched with these.
    std::string targetDir, targetLib, element;
    // Whether the summary has a line for it: not for the one nameless row a kind may have, which
    // the run's lists take for their empty placeholder.
    bool summarised = true;

    bool Selected() const { return outcome != RowOutcome::Skipped; }
};

// The update run's results as a value: every offered row in the grid's order with its outcome,
// and the run's record. The summary window, Save Summary, the command line's table and JSON and
// every exit status are made from it; nothing reads them back from a window.
struct RunReport {
    bool ran = false;     // the run began: its lock and its record were had
    int64_t runId = 0;    // the recorded run; 0 when it changed nothing
    std::vector<ReportRow> rows;
    // After an undo from the summary: how it went.
    std::optional<history::RollbackResult::Outcome> undo;

    // Every selected row the summary shows was copied.
    bool AllCopied() const;
    size_t Count(RowOutcome outcome) const;
};

// The report of a run over `lists` (made from the grid's rows `rows`, as CollectSelection makes
// them), as the lists say after it.
RunReport MakeRunReport(const UpgradeLists& lists, const GridRowTable& rows, const Environment& env);

// The summary table: a line per offered row, the selected rows first by kind (parts, symbols,
// packages, files, SPARAM and MPARAM models), each kind in the grid's order, then an empty line
// for every row the run skipped; five cells a line (the status localised, after an undo what
// became of a copied row).
using SummaryLine = std::array<std::string, 5>;
std::vector<SummaryLine> SummaryTable(const RunReport& report);
// The summary's column headings.
SummaryLine SummaryHeadings();
// The summary's caption after an undo, with what it did; nothing before one.
std::optional<std::string> SummaryCaption(const RunReport& report);

// Marks the rows `kept` (grid indices) that the run left alone because they were edited here.
void NoteKeptEdited(RunReport& report, const std::vector<size_t>& kept);

// Marks what an undo of the run did to each copied row: taken back, or left as it is (changed since
// the update); a row the undo did not concern stays copied.
void NoteUndo(RunReport& report, const history::RollbackResult& result);

// "Save Summary": the summary table's lines, the first four cells of each, tab-separated, CR LF,
// into the file the user chose.
Outcome WriteSummaryFile(const RunReport& report, const std::string& path);

}  // namespace zrx
