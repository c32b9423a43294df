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

// The rows of the selection grid as the command line prints them. Row numbers count the grid's
// rows from 1 (row 0 is the header).

// The five columns of a grid row, separated by tabs, as `show` prints them.
std::string GridLine(const App& app, int row);
// The change word of a grid row ("" for a row that offers nothing).
std::string ChangeWordOf(const App& app, int row);
// Whether a row offers an element (the grid ends in empty rows for withheld ones).
bool Offered(const App& app, int row);
// A grid row for scripts: element, kind, library, directory, update, file type, change (and why).
Json RowJson(const App& app, int row);
// The grid rows that offer an element, in grid order.
std::vector<int> OfferedRows(const App& app);
// RowJson of each of `rows`.
Json RowsJson(const App& app, const std::vector<int>& rows);
// The one document a command prints with --json: its rows, its exit status and what that means.
// With `check`, the document says what was known of the upgrade ("verification").
void PrintJsonResult(const Json& rows, int status, const std::string& meaning,
                     const trust::UpgradeCheck* check = nullptr);
// What was known of an upgrade, as the JSON documents carry it.
Json VerificationJson(const trust::UpgradeCheck& check);

// The exit status of a comparison of these rows: 0 when every row is the same as installed, 1
// when any differs; and what each status means.
int DiffStatus(const App& app, const std::vector<int>& rows);
std::string DiffMeaning(int status);

// Reads element names, one a line (LF or CR LF); blank lines and lines starting with "#" are
// passed over. False, with the reason, when the file cannot be read.
bool ReadNameFile(const std::string& path, std::vector<std::string>& names, std::string& error);

}  // namespace zrx::cli
