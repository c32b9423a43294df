#include "ui/grid.h"

#include <gtest/gtest.h>

#include <string>

namespace zrx::ui {
namespace {

std::string Row(const Grid& grid, int r) {
    std::string row;
    for (int c = 0; c < grid.Cols(); ++c) row += (c ? "|" : "") + grid.TextMatrix(r, c);
    return row;
}

TEST(GridTest, CellsKeepTheirTextsThroughResizesAndRepeatedFills) {
    Grid grid("F_Test");
    grid.SetCols(3);
    // Many fills of a large grid with texts that repeat and texts that do not: the texts no cell
    // shows any more are dropped on the way, and what the cells show stays exact.
    for (int fill = 0; fill < 10; ++fill) {
        grid.SetRows(2);
        grid.SetRows(1001);
        for (int r = 1; r <= 1000; ++r) {
            grid.SetTextMatrix(r, 0, "name" + std::to_string(fill) + "-" + std::to_string(r));
            grid.SetTextMatrix(r, 1, "/lib/dir/");
            grid.SetTextMatrix(r, 2, r % 2 ? "YES" : "");
        }
        for (int r = 1; r <= 1000; r += 3) grid.SetTextMatrix(r, 2, grid.TextMatrix(r, 2) == "YES" ? "NO" : "YES");
    }
    EXPECT_EQ(Row(grid, 1), "name9-1|/lib/dir/|NO");
    EXPECT_EQ(Row(grid, 2), "name9-2|/lib/dir/|");
    EXPECT_EQ(Row(grid, 4), "name9-4|/lib/dir/|YES");
    EXPECT_EQ(Row(grid, 999), "name9-999|/lib/dir/|YES");

    grid.SetCols(2);  // fewer columns keep the cells that remain
    EXPECT_EQ(Row(grid, 1), "name9-1|/lib/dir/");
    grid.SetCols(3);
    EXPECT_EQ(Row(grid, 1), "name9-1|/lib/dir/|");
    grid.SetRows(3);
    EXPECT_EQ(Row(grid, 2), "name9-2|/lib/dir/|");
    EXPECT_EQ(grid.TextMatrix(5, 0), "");  // outside the grid: empty
    EXPECT_EQ(grid.TextMatrix(-1, 0), "");
}

// Computed cells read like stored ones; setting one stores the column as it reads; a smaller grid
// ends the computed cells past its end, and they do not come back when it grows again.
TEST(GridTest, ComputedColumnsReadLikeStoredOnesUntilACellIsSet) {
    Grid grid("F_Test");
    grid.SetCols(2);
    grid.SetRows(6);
    grid.SetTextMatrix(0, 0, "Name");
    grid.SetTextMatrix(0, 1, "Update");
    int asked = 0;
    grid.SetComputedColumn(0, 1, 4, [&asked](size_t i) { return ++asked, "row" + std::to_string(i); });
    grid.FillColumn(1, 1, 4, "YES");
    EXPECT_EQ(Row(grid, 0), "Name|Update");
    EXPECT_EQ(Row(grid, 1), "row0|YES");
    EXPECT_EQ(Row(grid, 4), "row3|YES");
    EXPECT_EQ(Row(grid, 5), "|");  // past the computed rows
    EXPECT_EQ(asked, 2);  // only the cells read

    grid.SetTextMatrix(2, 0, "mine");  // the column is stored from here on
    asked = 0;
    EXPECT_EQ(Row(grid, 1), "row0|YES");
    EXPECT_EQ(Row(grid, 2), "mine|YES");
    EXPECT_EQ(Row(grid, 3), "row2|YES");
    EXPECT_EQ(asked, 0);

    grid.SetComputedColumn(0, 1, 4, [](size_t i) { return "again" + std::to_string(i); });
    grid.SetRows(3);
    grid.SetRows(6);
    EXPECT_EQ(Row(grid, 0), "Name|Update");
    EXPECT_EQ(Row(grid, 2), "again1|YES");
    EXPECT_EQ(Row(grid, 3), "|");
    EXPECT_EQ(Row(grid, 4), "|");
    grid.SetCols(1);
    grid.SetCols(2);
    EXPECT_EQ(Row(grid, 1), "again0|");
}

TEST(GridTest, TextsAreKeptWholeWhateverTheyHold) {
    Grid grid("F_Test");
    const std::string binary("a\0b\xff", 4);
    const std::string longText(100000, 'x');
    grid.SetTextMatrix(1, 1, binary);
    grid.SetTextMatrix(0, 0, longText);
    grid.SetTextMatrix(0, 1, binary);
    EXPECT_EQ(grid.TextMatrix(1, 1), binary);
    EXPECT_EQ(grid.TextMatrix(0, 0), longText);
    grid.SetTextMatrix(1, 1, "");
    EXPECT_EQ(grid.TextMatrix(1, 1), "");
    EXPECT_EQ(grid.TextMatrix(0, 1), binary);
}

}  // namespace
}  // namespace zrx::ui
