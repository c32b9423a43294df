#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "ui/control.h"

namespace zrx::ui {

// A list of text lines with one current line and, in extended selection, any number of selected
// lines. In single selection the selected line is the current one.
class ListBox : public Control {
public:
    enum class Selection { Single, Extended };
    explicit ListBox(std::string name, Selection selection = Selection::Single, int index = -1)
        : Control(std::move(name), index), m_selection(selection) {}

    Selection SelectionMode() const { return m_selection; }
    int ListCount() const { return static_cast<int>(m_items.size()); }
    const std::string& List(int index) const { return m_items.at(static_cast<size_t>(index)); }
    const std::vector<std::string>& Items() const { return m_items; }

    void AddItem(std::string item);
    void SetItems(std::vector<std::string> items);
    void RemoveItem(int index);
    void Clear();

    int ListIndex() const { return m_listIndex; }
    void SetListIndex(int index);
    bool Selected(int index) const;
    void SetSelected(int index, bool selected);
    // The selected lines in ascending order, at most `limit` of them.
    std::vector<int> SelectedIndices(size_t limit = SIZE_MAX) const;
    // The first line equal to the text without regard to case, or -1.
    int FindExact(std::string_view text) const;

    // Grows whenever the lines change (not the selection), so that a view can tell the two apart.
    uint64_t ItemsRevision() const { return m_revision; }

    std::function<void()> onClick;
    std::function<void()> onDoubleClick;
    // A user's click on a line (with the selection the click leaves).
    void UserSelect(const std::vector<int>& selected, int current);

private:
    Selection m_selection;
    std::vector<std::string> m_items;
    std::set<int> m_selected;  // ordered, so that the selected lines come out in ascending order
    int m_listIndex = -1;
    uint64_t m_revision = 0;
};

}  // namespace zrx::ui
