// The summary made from a run's report alone, as a property: for any report, the table has a line
// per offered row, the selected rows first by kind (parts, symbols, packages, files, SPARAM and
// MPARAM models) in the report's order, the skipped ones as empty lines; Save Summary writes the
// first four cells of each line, tab-separated, CR LF; and the run counts as all copied exactly
// when no summarised row was left uncopied (a row kept as edited here was left on purpose).
#include "apply/run_report.h"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace zrx {
namespace {

ReportRow DrawRow() {
    ReportRow row;
    row.kind = *rc::gen::inRange(1, 7);
    row.outcome = *rc::gen::element(RowOutcome::Copied, RowOutcome::NotCopied, RowOutcome::Skipped,
                                    RowOutcome::Kept, RowOutcome::Merged);
    row.summarised = *rc::gen::weightedElement<bool>({{9, true}, {1, false}});
    row.undo = row.outcome == RowOutcome::Copied || row.outcome == RowOutcome::Merged
                   ? *rc::gen::element(UndoOutcome::None, UndoOutcome::Undone, UndoOutcome::Left)
                   : UndoOutcome::None;
    const auto text = [] { return *rc::gen::container<std::string>(rc::gen::inRange('a', 'z')); };
    row.name = text();
    row.library = text();
    row.directory = "/" + text();
    row.fileType = text();
    return row;
}

std::string StatusOf(const ReportRow& row) {
    if (row.undo == UndoOutcome::Undone) return "Undone";
    if (row.undo == UndoOutcome::Left) return "Copied, not undone";
    if (row.outcome == RowOutcome::Copied) return "Copied";
    if (row.outcome == RowOutcome::Kept) return "Kept, edited here";
    if (row.outcome == RowOutcome::Merged) return "Merged with the edits here";
    return row.kind == 1 ? "Not Copied" : "Not copied";
}

RC_GTEST_PROP(RunReportTest, TheSummaryAndItsFileFollowFromTheReportAlone, ()) {
    RunReport report;
    report.ran = true;
    report.rows = *rc::gen::container<std::vector<ReportRow>>(rc::gen::exec(DrawRow));

    std::vector<SummaryLine> expected;
    size_t offered = 0;
    bool allCopied = true;
    for (const int kind : {1, 2, 3, 4, 5, 6})
        for (const ReportRow& row : report.rows)
            if (row.summarised && row.kind == kind && row.outcome != RowOutcome::Skipped)
                expected.push_back({row.name, row.library, row.directory, StatusOf(row), row.fileType});
    for (const ReportRow& row : report.rows) {
        offered += row.summarised ? 1 : 0;
        allCopied = allCopied && !(row.summarised && row.outcome == RowOutcome::NotCopied);
    }
    expected.resize(offered);
    RC_ASSERT(SummaryTable(report) == expected);
    RC_ASSERT(report.AllCopied() == allCopied);

    test::TempDir dir;
    RC_ASSERT(static_cast<bool>(WriteSummaryFile(report, dir / "summary.txt")));
    std::string bytes;
    for (const SummaryLine& line : expected)
        bytes += line[0] + "\t" + line[1] + "\t" + line[2] + "\t" + line[3] + "\r\n";
    RC_ASSERT(test::ReadFile(dir / "summary.txt") == bytes);
}

}  // namespace
}  // namespace zrx
