#include "ui/grid.h"

#include <algorithm>

namespace zrx::ui {

namespace {
const std::string kEmpty;
}

void Grid::Resize(int rows, int cols) {
    rows = std::max(rows, 0);
    cols = std::max(cols, 0);
    if (rows == m_rows && cols == m_cols) return;
    std::vector<std::string> cells(static_cast<size_t>(rows) * static_cast<size_t>(cols));
    if (cols == m_cols) {
        // Keeping the rows that remain is a move of whole rows.
        const size_t keep = static_cast<size_t>(std::min(rows, m_rows)) * static_cast<size_t>(cols);
        std::move(m_cells.begin(), m_cells.begin() + static_cast<long>(keep), cells.begin());
    } else {
        for (int r = 0; r < std::min(rows, m_rows); ++r)
            for (int c = 0; c < std::min(cols, m_cols); ++c)
                cells[static_cast<size_t>(r) * static_cast<size_t>(cols) + c] = std::move(m_cells[At(r, c)]);
    }
    m_cells = std::move(cells);
    m_widths.resize(static_cast<size_t>(cols), 0);
    m_rows = rows;
    m_cols = cols;
    m_row = std::clamp(m_row, 0, std::max(rows - 1, 0));
    m_rowSel = std::clamp(m_rowSel, 0, std::max(rows - 1, 0));
    m_col = std::clamp(m_col, 0, std::max(cols - 1, 0));
    m_colSel = std::clamp(m_colSel, 0, std::max(cols - 1, 0));
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

const std::string& Grid::TextMatrix(int row, int col) const {
    if (row < 0 || row >= m_rows || col < 0 || col >= m_cols) return kEmpty;
    return m_cells[At(row, col)];
}

void Grid::SetTextMatrix(int row, int col, std::string text) {
    if (row < 0 || row >= m_rows || col < 0 || col >= m_cols) return;
    m_cells[At(row, col)] = std::move(text);
    ++m_revision;
    Changed();
}

int Grid::ColWidth(int col) const { return col >= 0 && col < m_cols ? m_widths[static_cast<size_t>(col)] : 0; }

void Grid::SetColWidth(int col, int width) {
    if (col < 0 || col >= m_cols) return;
    m_widths[static_cast<size_t>(col)] = width;
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
