#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/text_keyed_set.h"
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
    // Sets the cells of rows `first` to `last` of a column to one text.
    void FillColumn(int col, int first, int last, std::string_view text);
    // Makes the cells of a column from row `first` on, for `count` rows, texts worked out when
    // they are asked for: `text(i)` for row first + i. Setting one of those cells stores it like
    // any other; a smaller grid, or the column's removal, ends the computed cells past its end.
    // A grid of a hundred thousand rows need not hold a copy of every name it shows.
    using ComputedText = std::function<std::string(size_t index)>;
    void SetComputedColumn(int col, int first, int count, ComputedText text);
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
    // A row was double-clicked, after the clicks made it current.
    std::function<void()> onDoubleClick;
    void UserSelect(int row, int col, int rowSel, int colSel);

private:
    // A cell is the number of its text. Every distinct text is kept once, in one buffer: a grid of
    // a hundred thousand rows repeats its directories, libraries, file types and "YES" on every
    // row, and a string per cell would cost several times the texts themselves.
    static constexpr uint32_t kComputed = UINT32_MAX;  // the cell's text comes from its column
    // A stored column holds the cells of its first rows; those after them are empty. A computed
    // one holds the cells of the rows before its computed ones (the header) and works the others
    // out; setting one of them stores the whole column.
    struct Column {
        std::vector<uint32_t> cells;
        int width = 0;
        int computedFirst = 0, computedCount = 0;
        ComputedText computed;  // empty for a stored column
    };
    void Resize(int rows, int cols);
    std::string_view Text(uint32_t id) const { return m_texts.At(id); }
    uint32_t Intern(std::string_view text) { return m_texts.Number(text); }
    void DropUnusedTexts();
    // After cells were set: texts no cell shows may go, and the views redraw.
    void CellsChanged();
    // The stored cells of a column, storing a computed column first.
    std::vector<uint32_t>& Cells(Column& column);
    uint32_t CellId(const Column& column, int row) const;
    std::string CellText(const Column& column, int row) const;
    size_t StoredCellCount() const;

    TextTable m_texts;

    int m_rows = 2;
    int m_cols = 2;
    int m_fixedRows = 1;
    int m_fixedCols = 1;
    std::vector<Column> m_columns = std::vector<Column>(2);
    int m_row = 1, m_col = 1, m_rowSel = 1, m_colSel = 1;
    uint64_t m_revision = 0;
};

}  // namespace zrx::ui
