#include "ui/grid.h"

#include <algorithm>

namespace zrx::ui {

void Grid::Resize(int rows, int cols) {
    rows = std::max(rows, 0);
    cols = std::max(cols, 0);
    if (rows == m_rows && cols == m_cols) return;
    if (cols == m_cols) {
        // Keeping the rows that remain is keeping a prefix of the cells.
        m_cells.resize(static_cast<size_t>(rows) * static_cast<size_t>(cols), 0);
    } else {
        std::vector<uint32_t> cells(static_cast<size_t>(rows) * static_cast<size_t>(cols), 0);
        for (int r = 0; r < std::min(rows, m_rows); ++r)
            for (int c = 0; c < std::min(cols, m_cols); ++c)
                cells[static_cast<size_t>(r) * static_cast<size_t>(cols) + c] = m_cells[At(r, c)];
        m_cells = std::move(cells);
    }
    if (m_cells.capacity() > 2 * m_cells.size() + 64) m_cells.shrink_to_fit();
    m_widths.resize(static_cast<size_t>(cols), 0);
    m_rows = rows;
    m_cols = cols;
    m_row = std::clamp(m_row, 0, std::max(rows - 1, 0));
    m_rowSel = std::clamp(m_rowSel, 0, std::max(rows - 1, 0));
    m_col = std::clamp(m_col, 0, std::max(cols - 1, 0));
    m_colSel = std::clamp(m_colSel, 0, std::max(cols - 1, 0));
    DropUnusedTexts();
    ++m_revision;
    Changed();
}

std::string_view Grid::Text(uint32_t id) const {
    const Span span = m_texts[id];
    return std::string_view(m_textBuffer).substr(span.offset, span.length);
}

uint32_t Grid::Intern(std::string_view text) {
    if (text.empty()) return 0;
    return m_textIds.FindOrAdd(text, [this](uint32_t id) { return Text(id); },
                               [this, text] {
                                   m_texts.push_back(Span{m_textBuffer.size(), text.size()});
                                   m_textBuffer.append(text);
                                   return static_cast<uint32_t>(m_texts.size() - 1);
                               });
}

// Texts that no cell shows any more (those of an earlier list, the "NO" of a grid set back to
// "YES") are dropped once they outnumber the cells, so that a grid filled again and again does
// not grow.
void Grid::DropUnusedTexts() {
    if (m_texts.size() <= 2 * m_cells.size() + 64) return;
    std::string buffer;
    std::vector<Span> texts;
    buffer.swap(m_textBuffer);
    texts.swap(m_texts);
    m_texts.assign(1, Span{0, 0});
    m_textIds.Clear(m_cells.size());
    for (uint32_t& cell : m_cells)
        cell = Intern(std::string_view(buffer).substr(texts[cell].offset, texts[cell].length));
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
    return std::string(Text(m_cells[At(row, col)]));
}

void Grid::SetTextMatrix(int row, int col, std::string_view text) {
    if (row < 0 || row >= m_rows || col < 0 || col >= m_cols) return;
    // Columns repeat the text of the row above more often than not; that needs no search.
    const uint32_t above = row > 0 ? m_cells[At(row - 1, col)] : 0;
    m_cells[At(row, col)] = above != 0 && Text(above) == text ? above : Intern(text);
    DropUnusedTexts();
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
