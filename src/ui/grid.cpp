#include "ui/grid.h"

#include <algorithm>
#include <utility>

namespace zrx::ui {

void Grid::Resize(int rows, int cols) {
    rows = std::max(rows, 0);
    cols = std::max(cols, 0);
    if (rows == m_rows && cols == m_cols) return;
    m_columns.resize(static_cast<size_t>(cols));
    // Keeping the rows that remain is keeping a prefix of the cells; rows added are empty, and a
    // column holds their cells only once one of them is set.
    for (Column& column : m_columns) {
        if (column.cells.size() > static_cast<size_t>(rows)) {
            column.cells.resize(static_cast<size_t>(rows));
            if (column.cells.capacity() > 2 * column.cells.size() + 64) column.cells.shrink_to_fit();
        }
        column.computedCount = std::clamp(rows - column.computedFirst, 0, column.computedCount);
    }
    m_rows = rows;
    m_cols = cols;
    m_row = std::clamp(m_row, 0, std::max(rows - 1, 0));
    m_rowSel = std::clamp(m_rowSel, 0, std::max(rows - 1, 0));
    m_col = std::clamp(m_col, 0, std::max(cols - 1, 0));
    m_colSel = std::clamp(m_colSel, 0, std::max(cols - 1, 0));
    CellsChanged();
}

uint32_t Grid::CellId(const Column& column, int row) const {
    const auto r = static_cast<size_t>(row);
    if (r < column.cells.size()) return column.cells[r];
    return row >= column.computedFirst && row - column.computedFirst < column.computedCount ? kComputed : 0;
}

std::string Grid::CellText(const Column& column, int row) const {
    const uint32_t id = CellId(column, row);
    if (id != kComputed) return std::string(Text(id));
    return column.computed ? column.computed(static_cast<size_t>(row - column.computedFirst)) : std::string();
}

std::vector<uint32_t>& Grid::Cells(Column& column) {
    if (!column.computed) {
        column.cells.resize(static_cast<size_t>(m_rows), 0);
    } else {
        // Every computed cell becomes a stored text; the function is no longer needed.
        // Computed columns repeat the text of the row above more often than not; that needs no
        // search.
        std::vector<uint32_t> cells(static_cast<size_t>(m_rows), 0);
        std::string above;
        uint32_t aboveId = 0;
        for (int r = 0; r < m_rows; ++r) {
            uint32_t id = CellId(column, r);
            if (id == kComputed) {
                std::string text = CellText(column, r);
                id = aboveId != 0 && text == above ? aboveId : Intern(text);
                above = std::move(text);
                aboveId = id;
            }
            cells[static_cast<size_t>(r)] = id;
        }
        column.cells = std::move(cells);
        column.computed = nullptr;
        column.computedFirst = column.computedCount = 0;
    }
    return column.cells;
}

size_t Grid::StoredCellCount() const {
    size_t count = 0;
    for (const Column& column : m_columns) count += column.cells.size();
    return count;
}

// Texts that no cell shows any more (those of an earlier list, the "NO" of a grid set back to
// "YES") are dropped once they outnumber the cells, so that a grid filled again and again does
// not grow.
void Grid::DropUnusedTexts() {
    const size_t cellCount = StoredCellCount();
    if (m_texts.size() <= 2 * cellCount + 64) return;
    const TextTable old = std::exchange(m_texts, TextTable());
    m_texts.Clear(cellCount);
    for (Column& column : m_columns)
        for (uint32_t& cell : column.cells)
            if (cell != kComputed) cell = Intern(old.At(cell));
}

void Grid::CellsChanged() {
    DropUnusedTexts();
    ++m_revision;
    Changed();
}

void Grid::SetRows(int rows) { Resize(rows, m_cols); }
void Grid::SetCols(int cols) { Resize(m_rows, cols); }

void Grid::SetFixedRows(int rows) {
    m_fixedRows = std::clamp(rows, 0, m_rows);
    ++m_revision;
    Changed();
}

void Grid::SetFixedCols(int cols) {
    m_fixedCols = std::clamp(cols, 0, m_cols);
    ++m_revision;
    Changed();
}

std::string Grid::TextMatrix(int row, int col) const {
    if (row < 0 || row >= m_rows || col < 0 || col >= m_cols) return {};
    return CellText(m_columns[static_cast<size_t>(col)], row);
}

void Grid::SetTextMatrix(int row, int col, std::string_view text) {
    if (row < 0 || row >= m_rows || col < 0 || col >= m_cols) return;
    Column& column = m_columns[static_cast<size_t>(col)];
    const auto r = static_cast<size_t>(row);
    // The rows before a computed column's computed cells are stored as they are.
    std::vector<uint32_t>& cells = r < column.cells.size() ? column.cells : Cells(column);
    // Columns repeat the text of the row above more often than not; that needs no search.
    const uint32_t above = row > 0 ? cells[r - 1] : 0;
    cells[r] = above != 0 && Text(above) == text ? above : Intern(text);
    CellsChanged();
}

void Grid::FillColumn(int col, int first, int last, std::string_view text) {
    if (col < 0 || col >= m_cols) return;
    first = std::max(first, 0);
    last = std::min(last, m_rows - 1);
    if (first > last) return;
    const uint32_t id = Intern(text);
    std::vector<uint32_t>& cells = Cells(m_columns[static_cast<size_t>(col)]);
    std::fill(cells.begin() + first, cells.begin() + last + 1, id);
    CellsChanged();
}

void Grid::SetComputedColumn(int col, int first, int count, ComputedText text) {
    if (col < 0 || col >= m_cols) return;
    first = std::clamp(first, 0, m_rows);
    Column& column = m_columns[static_cast<size_t>(col)];
    // The rows before the computed ones keep their cells.
    std::vector<uint32_t> head(static_cast<size_t>(first));
    for (int r = 0; r < first; ++r) {
        const uint32_t id = CellId(column, r);
        head[static_cast<size_t>(r)] = id == kComputed ? Intern(CellText(column, r)) : id;
    }
    column.cells = std::move(head);
    column.computedFirst = first;
    column.computedCount = std::clamp(count, 0, m_rows - first);
    // A column without a function computes empty cells.
    column.computed = text ? std::move(text) : [](size_t) { return std::string(); };
    CellsChanged();
}

int Grid::ColWidth(int col) const { return col >= 0 && col < m_cols ? m_columns[static_cast<size_t>(col)].width : 0; }

void Grid::SetColWidth(int col, int width) {
    if (col < 0 || col >= m_cols) return;
    m_columns[static_cast<size_t>(col)].width = width;
    ++m_revision;
    Changed();
}

void Grid::SetRow(int row) {
    if (row < 0 || row >= m_rows) return;
    m_row = m_rowSel = row;
    Changed();
}

void Grid::SetCol(int col) {
    if (col < 0 || col >= m_cols) return;
    m_col = m_colSel = col;
    Changed();
}

void Grid::SetSelection(int row, int col, int rowSel, int colSel) {
    const int lastRow = std::max(m_rows - 1, 0), lastCol = std::max(m_cols - 1, 0);
    m_row = std::clamp(row, 0, lastRow);
    m_col = std::clamp(col, 0, lastCol);
    m_rowSel = std::clamp(rowSel, 0, lastRow);
    m_colSel = std::clamp(colSel, 0, lastCol);
    Changed();
}

void Grid::UserSelect(int row, int col, int rowSel, int colSel) {
    SetSelection(row, col, rowSel, colSel);
    if (onMouseUp) onMouseUp();
}

}  // namespace zrx::ui
