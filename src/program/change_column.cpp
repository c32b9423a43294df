#include "program/change_column.h"

#include <algorithm>
#include <unordered_map>

#include "base/dialogs.h"
#include "base/messages.h"
#include "preview/change_preview.h"
#include "ui/forms/main_form.h"

namespace zrx {

namespace {

constexpr int kUpdateColumn = 3;
constexpr int kChangeColumn = 5;

}  // namespace

ChangeColumn::ChangeColumn(ui::Grid& grid, ui::Dialogs& dialogs, const ui::UiFont& font,
                           const GridRowTable& rows, const Environment& env, const std::string& listPath,
                           const std::array<std::string, 6>& upgradeLibraries,
                           const std::shared_ptr<const Directory>& folder,
                           const std::shared_ptr<const CheckedInPlace>& inPlace)
    : m_grid(grid),
      m_dialogs(dialogs),
      m_font(font),
      m_rows(rows),
      m_env(env),
      m_listPath(listPath),
      m_upgradeLibraries(upgradeLibraries),
      m_folder(folder),
      m_inPlace(inPlace) {}

void ChangeColumn::Refresh() {
    ui::Grid& grid = m_grid;
    ui::Dialogs& dialogs = m_dialogs;
    const std::string comparing = GetLocalMessage("Comparing the upgrade with the installation", 20024);
    dialogs.SetBusy(true);
    m_changes = preview::CompareRows(m_rows, m_env, {m_listPath, m_upgradeLibraries, m_folder, m_inPlace},
                                     [&dialogs, &comparing](size_t done, size_t total) {
                                         dialogs.ShowProgress(comparing, done, total);
                                         dialogs.ProcessEvents();
                                     });
    m_stale = false;
    const preview::RowChanges& result = m_changes;
    dialogs.ShowProgress({}, 0, 0);
    dialogs.SetBusy(false);

    ui::Control::UpdateBlock block(grid);
    if (grid.Cols() < kChangeColumn + 1) grid.SetCols(kChangeColumn + 1);
    grid.SetTextMatrix(0, kChangeColumn, GetLocalMessage("Change", 20020));
    int width = dialogs.TextWidth(grid.TextMatrix(0, kChangeColumn) + "  ", m_font);
    for (int change = 0; change <= static_cast<int>(preview::Change::Unreadable); ++change)
        width = std::max(
            width,
            dialogs.TextWidth(preview::LocalChangeWord(static_cast<preview::Change>(change)) + "  ", m_font));
    grid.SetColWidth(kChangeColumn, width);
    // Rows share their cells' texts: each pair of change and reason is put into words once, and
    // each run of rows with the same pair is filled at once.
    std::unordered_map<uint64_t, std::string> texts;
    const auto localOf = [&result](size_t i) {
        return i < result.local.size() ? result.local[i] : preview::Local::None;
    };
    const auto mergeOf = [&result](size_t i) {
        return i < result.merge.size() ? result.merge[i] : preview::Merge::None;
    };
    auto keyOf = [&result, &localOf, &mergeOf](size_t i) {
        return uint64_t{result.reasonOf[i]} << 24 | static_cast<uint64_t>(mergeOf(i)) << 16 |
               static_cast<uint64_t>(localOf(i)) << 8 | static_cast<uint64_t>(result.changes[i]);
    };
    for (size_t first = 0, count = result.changes.size(); first < count;) {
        const uint64_t key = keyOf(first);
        size_t end = first + 1;
        while (end < count && keyOf(end) == key) ++end;
        auto text = texts.find(key);
        if (text == texts.end()) {
            const std::string& reason = result.ReasonOf(first);
            const std::string word = ChangeText(result.changes[first], localOf(first), mergeOf(first));
            text = texts.emplace(key, reason.empty() ? word : word + ": " + reason).first;
        }
        grid.FillColumn(kChangeColumn, static_cast<int>(first) + 1, static_cast<int>(end), text->second);
        first = end;
    }
}

void ChangeColumn::SetRowsToNo(const std::function<bool(size_t row)>& leaveOut) {
    ui::Control::UpdateBlock block(m_grid);
    for (size_t i = 0; i < m_changes.changes.size() && static_cast<int>(i) + 1 < m_grid.Rows(); ++i)
        if (leaveOut(i) && !m_grid.TextMatrix(static_cast<int>(i) + 1, kUpdateColumn).empty())
            m_grid.SetTextMatrix(static_cast<int>(i) + 1, kUpdateColumn, "NO");
}

void ChangeColumn::SetEditedToNo() {
    const auto& local = m_changes.local;
    SetRowsToNo([&local](size_t i) { return i < local.size() && local[i] == preview::Local::Edited; });
}

void ChangeColumn::SetSameToNo() {
    const auto& changes = m_changes.changes;
    SetRowsToNo([&changes](size_t i) { return changes[i] == preview::Change::Same; });
}

void ConnectPreview(ChangeColumn& column, ui::MainForm& m, const bool& ended) {
    m.P_SameToNo.onClick = [&column] { column.SetSameToNo(); };
    m.P_EditedToNo.onClick = [&column] { column.SetEditedToNo(); };
    m.F_Msg.Subscribe([&column, &m, &ended] {
        if (column.Stale() && m.F_Msg.Visible() && !ended) column.Refresh();
    });
}

std::vector<preview::RowDetail> ChangeColumn::Details(const std::vector<size_t>& rows, bool keepSides) const {
    return preview::DetailRows(m_rows, rows, m_env, {m_listPath, m_upgradeLibraries, m_folder, m_inPlace},
                               keepSides);
}

std::string ChangeText(preview::Change change, preview::Local local, preview::Merge merge) {
    std::string word = preview::LocalChangeWord(change);
    // An element or file edited here since the last upgrade: said beside its change, and whether
    // the upgrade's changes would merge into it.
    if (local != preview::Local::Edited) return word;
    word += "; " + GetLocalMessage("edited here", 20079);
    if (merge == preview::Merge::Clean) word += " " + GetLocalMessage("(merges)", 20085);
    if (merge == preview::Merge::Conflict) word += " " + GetLocalMessage("(conflicts)", 20086);
    return word;
}

}  // namespace zrx
