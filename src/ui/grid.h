#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "shell/text_keyed_set.h"
#include "ui/control.h"

namespace zrx::ui {

// A grid of text cells with fixed header rows, column widths, a current cell and a selected range
// of rows (from the current row to RowSel, in either direction).
class Grid : public Control {
public:
    using Control::Control;

    int Rows() const { return m_rows; }
    int Cols() const { return m_cols; }
    // Changing the size keeps the cells that remain.
    void SetRows(int rows);
    void SetCols(int cols);
    int FixedRows() const { return m_fixedRows; }
    int FixedCols() const { return m_fixedCols; }
    void SetFixedRows(int rows);
    void SetFixedCols(int cols);

    std::string TextMatrix(int row, int col) const;
    void SetTextMatrix(int row, int col, std::string_view text);
    int ColWidth(int col) const;
    void SetColWidth(int col, int width);

    int Row() const { return m_row; }
    int Col() const { return m_col; }
    int RowSel() const { return m_rowSel; }
    int ColSel() const { return m_colSel; }
    // Makes a cell current; the selection collapses onto it.
    void SetRow(int row);
    void SetCol(int col);
    // The current cell and the selection's far corner, as a mouse click or drag leaves them.
    void SetSelection(int row, int col, int rowSel, int colSel);

    uint64_t CellsRevision() const { return m_revision; }

    // The mouse button went up over the grid, after the selection was made.
    std::function<void()> onMouseUp;
    void UserSelect(int row, int col, int rowSel, int colSel);

private:
    size_t At(int row, int col) const { return static_cast<size_t>(row) * static_cast<size_t>(m_cols) + col; }
    void Resize(int rows, int cols);
    std::string_view Text(uint32_t id) const;
    uint32_t Intern(std::string_view text);
    void DropUnusedTexts();

    // A cell is the number of its text. Every distinct text is kept once, in one buffer: a grid of
    // a hundred thousand rows repeats its directories, libraries, file types and "YES" on every
    // row, and a string per cell would cost several times the texts themselves.
    struct Span {
        size_t offset;
        size_t length;
    };
    std::string m_textBuffer;
    std::vector<Span> m_texts = {Span{0, 0}};  // text 0 is the empty text
    TextKeyedSet m_textIds;

    int m_rows = 2;
    int m_cols = 2;
    int m_fixedRows = 1;
    int m_fixedCols = 1;
    std::vector<uint32_t> m_cells = std::vector<uint32_t>(4, 0);
    std::vector<int> m_widths = std::vector<int>(2, 0);
    int m_row = 1, m_col = 1, m_rowSel = 1, m_colSel = 1;
    uint64_t m_revision = 0;
};

}  // namespace zrx::ui
