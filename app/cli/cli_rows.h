#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace zrx {
class App;
}

namespace zrx::trust {
struct UpgradeCheck;
}

namespace zrx::cli {

using Json = nlohmann::ordered_json;

// A document as the command line prints it: valid UTF-8 whatever bytes a name or a comment holds
// (a byte that is not UTF-8 becomes U+FFFD).
std::string JsonText(const Json& document);

// The rows of the selection grid as the command line prints them, from the loaded upgrade's grid
// rows (row i is GridRows[i], the grid's line i + 1) and the selection (one flag per row; an empty
// selection says YES for every row).
using Selection = std::vector<bool>;

// The number of rows that offer an element.
size_t OfferedCount(const App& app);
// The five columns of a row, separated by tabs, as `show` prints them; `row` at or past the
// offered rows gives the empty line the grid ends in for each element withheld.
std::string GridLine(const App& app, size_t row, const Selection& selected = {});
// The number of lines the grid has below its heading (the offered rows, then the empty ones).
size_t GridLines(const App& app);
// The change word of a row ("" for a row that offers nothing).
std::string ChangeWordOf(const App& app, size_t row);
// A row for scripts: element, kind, library, directory, update, file type, change (and why).
Json RowJson(const App& app, size_t row, const Selection& selected = {});
// Every row that offers an element, in the grid's order.
std::vector<size_t> OfferedRows(const App& app);
// RowJson of each of `rows`.
Json RowsJson(const App& app, const std::vector<size_t>& rows, const Selection& selected = {});
// The one document a command prints with --json: its rows, its exit status and what that means.
// With `check`, the document says what was known of the upgrade ("verification").
void PrintJsonResult(const Json& rows, int status, const std::string& meaning,
                     const trust::UpgradeCheck* check = nullptr);
// What was known of an upgrade, as the JSON documents carry it.
Json VerificationJson(const trust::UpgradeCheck& check);

// The exit status of a comparison of these rows: 0 when every row is the same as installed, 1
// when any differs; and what each status means.
int DiffStatus(const App& app, const std::vector<size_t>& rows);
std::string DiffMeaning(int status);

// Reads element names, one a line (LF or CR LF); blank lines and lines starting with "#" are
// passed over. False, with the reason, when the file cannot be read.
bool ReadNameFile(const std::string& path, std::vector<std::string>& names, std::string& error);

}  // namespace zrx::cli
