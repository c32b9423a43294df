#include "ui/qt/bindings.h"

#include <QAbstractListModel>
#include <QAbstractTableModel>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QStaticText>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <memory>
#include <unordered_map>

#include "base/text_utils.h"
#include "ui/control.h"
#include "ui/file_system_lists.h"
#include "ui/grid.h"
#include "ui/list_box.h"

namespace zrx::qt {

QString ToQt(const std::string& text) { return QString::fromUtf8(ToDisplayUtf8(text)); }
std::string FromQt(const QString& text) { return text.toUtf8().toStdString(); }

QFont FontOf(const ui::UiFont& font, const QFont& fallback) {
    QFont result = fallback;
    if (!font.name.empty()) result.setFamily(ToQt(font.name));
    if (font.size > 0) result.setPointSize(font.size);
    return result;
}

void Track(QWidget* widget, ui::Control& control, std::function<void()> apply) {
    auto common = [widget, &control, apply] {
        widget->setEnabled(control.Enabled());
        QFont font = FontOf(control.Font(), widget->font());
        font.setBold(control.Bold());
        // Setting a font, even the one a widget has, resolves it anew for all its children.
        if (font != widget->font() || font.resolveMask() != widget->font().resolveMask()) widget->setFont(font);
        apply();
        widget->setVisible(control.Visible());
    };
    common();
    auto pending = std::make_shared<bool>(false);
    QPointer<QWidget> guard(widget);
    const int id = control.Subscribe([pending, guard, common] {
        if (*pending || !guard) return;
        *pending = true;
        QTimer::singleShot(0, guard, [pending, guard, common] {
            *pending = false;
            if (guard) common();
        });
    });
    QObject::connect(widget, &QObject::destroyed, [&control, id] { control.Unsubscribe(id); });
}

namespace {

// Shows the lines of a list model without copying them into the view.
class ListAdapter : public QAbstractListModel {
public:
    explicit ListAdapter(ui::ListBox& list, QObject* parent) : QAbstractListModel(parent), m_list(list) {}
    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : m_shown; }
    QVariant data(const QModelIndex& index, int role) const override {
        if ((role != Qt::DisplayRole && role != Qt::ToolTipRole) || index.row() >= m_list.ListCount()) return {};
        return ToQt(m_list.List(index.row()));
    }
    // Shows the model's lines when they have changed since the last call.
    bool Refresh() {
        if (m_revision == m_list.ItemsRevision()) return false;
        beginResetModel();
        m_revision = m_list.ItemsRevision();
        m_shown = m_list.ListCount();
        endResetModel();
        return true;
    }

private:
    ui::ListBox& m_list;
    uint64_t m_revision = UINT64_MAX;
    int m_shown = 0;
};

// The grid's fixed first row is the view's header; the other rows its rows.
class GridAdapter : public QAbstractTableModel {
public:
    explicit GridAdapter(ui::Grid& grid, QObject* parent) : QAbstractTableModel(parent), m_grid(grid) {}
    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : m_rows; }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : m_cols; }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role == Qt::TextAlignmentRole) return int(Qt::AlignLeft | Qt::AlignVCenter);
        // Columns are as wide as their sample texts; the whole text shows when the mouse rests on it.
        if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
        return ToQt(m_grid.TextMatrix(index.row() + m_grid.FixedRows(), index.column()));
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (role != Qt::DisplayRole) return {};
        if (orientation == Qt::Horizontal)
            return m_grid.FixedRows() > 0 ? ToQt(m_grid.TextMatrix(0, section)) : QVariant(section);
        return section + m_grid.FixedRows();
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }
    // True when the grid's size changed (the view starts anew).
    bool Refresh() {
        const int rows = std::max(m_grid.Rows() - m_grid.FixedRows(), 0);
        const int cols = m_grid.Cols();
        if (rows != m_rows || cols != m_cols) {
            beginResetModel();
            m_rows = rows;
            m_cols = cols;
            endResetModel();
            return true;
        }
        if (m_rows > 0 && m_cols > 0) {
            emit dataChanged(index(0, 0), index(m_rows - 1, m_cols - 1));
            emit headerDataChanged(Qt::Horizontal, 0, m_cols - 1);
        }
        return false;
    }

private:
    ui::Grid& m_grid;
    int m_rows = -1;
    int m_cols = -1;
};

// Paints a grid cell as the style does, with its text cut in the middle to the column's width.
// The cells of a large grid repeat their texts from row to row (directories, libraries, "YES"):
// each text is laid out once for its width and kept, instead of being laid out three times for
// every cell every time the grid is painted.
class CellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem cell = option;
        initStyleOption(&cell, index);
        const QWidget* widget = cell.widget;
        QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
        const QString text = cell.text;
        cell.text.clear();
        style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);  // background, selection, focus
        if (text.isEmpty()) return;
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        const QRect area = cell.rect.adjusted(margin, 0, -margin, 0);
        if (area.width() <= 0) return;
        const QStaticText& laidOut = LaidOut(text, area.width(), cell.font);
        const QPalette::ColorGroup group = !(cell.state & QStyle::State_Enabled) ? QPalette::Disabled
                                           : (cell.state & QStyle::State_Active)  ? QPalette::Normal
                                                                                  : QPalette::Inactive;
        painter->save();
        painter->setFont(cell.font);
        painter->setPen(cell.palette.color(
            group, (cell.state & QStyle::State_Selected) ? QPalette::HighlightedText : QPalette::Text));
        painter->setClipRect(area);
        const int top = area.top() + (area.height() - QFontMetrics(cell.font).height()) / 2;
        painter->drawStaticText(area.left(), top, laidOut);
        painter->restore();
    }

private:
    const QStaticText& LaidOut(const QString& text, int width, const QFont& font) const {
        if (font != m_font || m_laidOut.size() > 4096) {
            m_laidOut.clear();
            m_font = font;
        }
        Key key{text, width};
        auto it = m_laidOut.find(key);
        if (it == m_laidOut.end()) {
            QStaticText laidOut(QFontMetrics(font).elidedText(text, Qt::ElideMiddle, width));
            laidOut.setTextFormat(Qt::PlainText);
            laidOut.setPerformanceHint(QStaticText::AggressiveCaching);
            laidOut.prepare(QTransform(), font);
            it = m_laidOut.emplace(std::move(key), std::move(laidOut)).first;
        }
        return it->second;
    }
    struct Key {
        QString text;
        int width;
        bool operator==(const Key& other) const { return width == other.width && text == other.text; }
    };
    struct KeyHash {
        size_t operator()(const Key& key) const { return qHash(key.text) ^ (static_cast<size_t>(key.width) << 1); }
    };
    mutable std::unordered_map<Key, QStaticText, KeyHash> m_laidOut;
    mutable QFont m_font;
};

// Calls a function for chosen events of a widget.
class EventHook : public QObject {
public:
    EventHook(QObject* parent, std::function<bool(QEvent*)> hook) : QObject(parent), m_hook(std::move(hook)) {}
    bool eventFilter(QObject*, QEvent* event) override { return m_hook(event); }

private:
    std::function<bool(QEvent*)> m_hook;
};

QString Caption(const ui::Control& control) {
    // Captions keep the CR LF line breaks of the window system; Qt breaks at LF.
    return ToQt(control.Caption()).remove('\r');
}

}  // namespace

void Hook(QObject* target, std::function<bool(QEvent*)> hook) {
    target->installEventFilter(new EventHook(target, std::move(hook)));
}

void Bind(QLabel* widget, ui::Label& label) {
    widget->setWordWrap(true);
    if (label.GetStyle() == ui::Label::Style::Status) {
        widget->setStyleSheet("QLabel { color: #ffff00; background-color: #000080; padding: 3px; }");
        widget->setMinimumHeight(widget->fontMetrics().height() + 8);
        widget->setWordWrap(false);
        widget->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    }
    Track(widget, label, [widget, &label] { widget->setText(Caption(label)); });
}

void Bind(QPushButton* widget, ui::Button& button) {
    Track(widget, button, [widget, &button] { widget->setText(Caption(button)); });
    QObject::connect(widget, &QPushButton::clicked, widget, [&button] { button.Click(); });
}

void Bind(QRadioButton* widget, ui::OptionButton& option) {
    widget->setAutoExclusive(false);  // the model keeps the group exclusive
    Track(widget, option, [widget, &option] {
        widget->setText(Caption(option));
        widget->setChecked(option.Value());
    });
    QObject::connect(widget, &QRadioButton::clicked, widget, [widget, &option] {
        option.Click();
        widget->setChecked(option.Value());
    });
}

void Bind(QCheckBox* widget, ui::CheckBox& box) {
    Track(widget, box, [widget, &box] {
        widget->setText(Caption(box));
        widget->setChecked(box.Value());
    });
    QObject::connect(widget, &QCheckBox::clicked, widget, [widget, &box] {
        box.Click();
        widget->setChecked(box.Value());
    });
}

void Bind(QLineEdit* widget, ui::TextBox& box) {
    Track(widget, box, [widget, &box] {
        const QString text = ToQt(box.Text());
        if (widget->text() != text) widget->setText(text);
        widget->setReadOnly(box.ReadOnly());
    });
    QObject::connect(widget, &QLineEdit::textEdited, widget, [&box](const QString& text) { box.UserEdit(FromQt(text)); });
    Hook(widget, [&box](QEvent* event) {
        if (event->type() == QEvent::FocusOut) box.LoseFocus();
        if (event->type() != QEvent::KeyPress) return false;
        auto* key = static_cast<QKeyEvent*>(event);
        const int code = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ? 13
                         : key->text().isEmpty()                                     ? -1
                                                                                     : key->text().at(0).unicode();
        return code >= 0 && box.KeyPress(code) == 0;
    });
}

void Bind(QPlainTextEdit* widget, ui::TextBox& box) {
    Track(widget, box, [widget, &box] {
        const QString text = ToQt(box.Text()).remove('\r');
        if (widget->toPlainText() != text) widget->setPlainText(text);
        widget->setReadOnly(box.ReadOnly());
    });
    Hook(widget, [&box](QEvent* event) {
        if (event->type() != QEvent::KeyPress) return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->text().isEmpty() || key->matches(QKeySequence::Copy) || key->matches(QKeySequence::SelectAll))
            return false;  // moving, selecting and copying stay possible
        return box.KeyPress(key->text().at(0).unicode()) == 0;
    });
}

void Bind(QComboBox* widget, ui::ComboBox& combo) {
    Track(widget, combo, [widget, &combo] {
        QStringList items;
        for (const std::string& item : combo.Items()) items << ToQt(item);
        QSignalBlocker block(widget);
        widget->clear();
        widget->addItems(items);
        widget->setCurrentIndex(combo.ListIndex());
    });
    QObject::connect(widget, QOverload<int>::of(&QComboBox::activated), widget,
                     [&combo](int index) { combo.UserSelect(index); });
}

void Bind(QComboBox* widget, ui::DriveList& drives) {
    Track(widget, drives, [widget, &drives] {
        QSignalBlocker block(widget);
        if (widget->count() != drives.ListCount()) {
            widget->clear();
            for (const std::string& drive : drives.Items()) widget->addItem(ToQt(drive));
        }
        widget->setCurrentIndex(drives.ListIndex());
    });
    QObject::connect(widget, QOverload<int>::of(&QComboBox::activated), widget,
                     [&drives](int index) { drives.UserChoose(index); });
}

void Bind(QListView* widget, ui::ListBox& list) {
    auto* adapter = new ListAdapter(list, widget);
    widget->setModel(adapter);
    widget->setUniformItemSizes(true);
    widget->setTextElideMode(Qt::ElideMiddle);
    widget->setSelectionMode(list.SelectionMode() == ui::ListBox::Selection::Extended
                                 ? QAbstractItemView::ExtendedSelection
                                 : QAbstractItemView::SingleSelection);
    widget->setEditTriggers(QAbstractItemView::NoEditTriggers);
    auto syncing = std::make_shared<bool>(false);
    Track(widget, list, [widget, adapter, &list, syncing] {
        *syncing = true;
        adapter->Refresh();
        QItemSelection selection;
        for (int index : list.SelectedIndices()) selection.select(adapter->index(index), adapter->index(index));
        widget->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
        if (list.ListIndex() >= 0)
            widget->selectionModel()->setCurrentIndex(adapter->index(list.ListIndex()), QItemSelectionModel::NoUpdate);
        *syncing = false;
    });
    QObject::connect(widget->selectionModel(), &QItemSelectionModel::selectionChanged, widget,
                     [widget, &list, syncing] {
                         if (*syncing) return;
                         std::vector<int> selected;
                         for (const QModelIndex& index : widget->selectionModel()->selectedIndexes())
                             selected.push_back(index.row());
                         std::sort(selected.begin(), selected.end());
                         const QModelIndex current = widget->selectionModel()->currentIndex();
                         *syncing = true;
                         list.UserSelect(selected, current.isValid() ? current.row() : -1);
                         *syncing = false;
                     });
    QObject::connect(widget, &QListView::doubleClicked, widget, [&list] {
        if (list.onDoubleClick) list.onDoubleClick();
    });
}

void Bind(QListWidget* widget, ui::DirList& dirs) {
    auto syncing = std::make_shared<bool>(false);
    Track(widget, dirs, [widget, &dirs, syncing] {
        *syncing = true;
        widget->clear();
        // Ancestors are indented by depth; the opened directory shows an open folder.
        const int opened = dirs.ListIndex();
        const std::string& path = dirs.Path();
        int depth = 0;
        for (int i = 0; i < dirs.ListCount(); ++i) {
            const bool ancestor = dirs.LinePath(i).size() <= path.size() && StartsWith(path, dirs.LinePath(i));
            const int indent = ancestor ? depth++ : depth;
            auto* item = new QListWidgetItem(QString(indent * 2, ' ') + (ancestor ? "\u25BE " : "\u25B8 ") +
                                             ToQt(dirs.List(i)));
            widget->addItem(item);
        }
        widget->setCurrentRow(opened);
        *syncing = false;
    });
    QObject::connect(widget, &QListWidget::currentRowChanged, widget, [&dirs, syncing](int row) {
        if (!*syncing) dirs.SetListIndex(row);
    });
    QObject::connect(widget, &QListWidget::itemActivated, widget,
                     [widget, &dirs](QListWidgetItem* item) { dirs.UserOpen(widget->row(item)); });
}

namespace {

// Each column as wide as its header and its widest cell (the first rows tell, as a view's own
// fitting does), up to a cap, and never narrower than the width the grid gives it; a text wider
// than its column is cut in the middle, and shows whole as the cell's tooltip. The user may
// resize every column.
void FitColumns(QTableView* view, const ui::Grid& grid) {
    constexpr int kSampledRows = 1000;
    const QFontMetrics metrics(view->font());
    const QFontMetrics headerMetrics(view->horizontalHeader()->font());
    const int padding = metrics.averageCharWidth() * 2 + 8;
    const int cap = metrics.averageCharWidth() * 60;
    const int lastRow = std::min(grid.Rows(), grid.FixedRows() + kSampledRows);
    for (int c = 0; c < grid.Cols(); ++c) {
        int content = grid.FixedRows() > 0 ? headerMetrics.horizontalAdvance(ToQt(grid.TextMatrix(0, c))) : 0;
        for (int r = grid.FixedRows(); r < lastRow; ++r)
            content = std::max(content, metrics.horizontalAdvance(ToQt(grid.TextMatrix(r, c))));
        const int least = grid.ColWidth(c) > 0 ? grid.ColWidth(c) + 12 : 0;
        view->setColumnWidth(c, std::max(least, std::min(content + padding, cap)));
    }
}

}  // namespace

void Bind(QTableView* widget, ui::Grid& grid) {
    auto* adapter = new GridAdapter(grid, widget);
    widget->setModel(adapter);
    widget->setItemDelegate(new CellDelegate(widget));
    widget->setEditTriggers(QAbstractItemView::NoEditTriggers);
    widget->setSelectionMode(QAbstractItemView::ContiguousSelection);
    widget->setTextElideMode(Qt::ElideMiddle);
    widget->setWordWrap(false);
    widget->verticalHeader()->setVisible(false);
    widget->verticalHeader()->setDefaultSectionSize(widget->fontMetrics().height() + 6);
    widget->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    widget->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    widget->horizontalHeader()->setStretchLastSection(true);
    // Columns are fitted when the grid is filled anew or its widths change; flipping a cell keeps
    // the widths the user chose.
    auto fitted = std::make_shared<std::vector<int>>();
    Track(widget, grid, [widget, adapter, &grid, fitted] {
        const bool anew = adapter->Refresh();
        std::vector<int> widths;
        for (int c = 0; c < grid.Cols(); ++c) widths.push_back(grid.ColWidth(c));
        if (!anew && widths == *fitted) return;
        *fitted = widths;
        FitColumns(widget, grid);
    });
    // When the mouse button comes up the grid takes the view's selection as it stands (a drag, a
    // Shift+click, or a range Shift+arrow made before), with the current cell where the click was,
    // and then its handler runs.
    Hook(widget->viewport(), [widget, &grid](QEvent* event) {
        if (event->type() != QEvent::MouseButtonRelease) return false;
        QTimer::singleShot(0, widget, [widget, &grid] {
            const QModelIndex current = widget->currentIndex();
            if (!current.isValid()) return;
            int top = current.row(), bottom = current.row();
            for (const QItemSelectionRange& range : widget->selectionModel()->selection()) {
                top = std::min(top, range.top());
                bottom = std::max(bottom, range.bottom());
            }
            const int fixed = grid.FixedRows();
            const int other = current.row() == top ? bottom : top;
            grid.UserSelect(current.row() + fixed, current.column(), other + fixed, current.column());
        });
        return false;
    });
    // A double click runs after the clicks' own selection has been taken.
    QObject::connect(widget, &QAbstractItemView::doubleClicked, widget, [widget, &grid](const QModelIndex&) {
        QTimer::singleShot(0, widget, [&grid] {
            if (grid.onDoubleClick) grid.onDoubleClick();
        });
    });
}

void Bind(QGroupBox* widget, ui::Frame& frame) {
    // Frames share one place: the one in front hides what lies behind it.
    widget->setAutoFillBackground(true);
    Track(widget, frame, [widget, &frame] { widget->setTitle(Caption(frame)); });
}

void Bind(QWidget* widget, ui::Frame& frame) {
    widget->setAutoFillBackground(true);
    Track(widget, frame, [] {});
}

void Bind(QAction* action, ui::MenuItem& item) {
    auto apply = [action, &item] {
        action->setText(Caption(item));
        action->setVisible(item.Visible());
        action->setEnabled(item.Enabled());
    };
    apply();
    QPointer<QAction> guard(action);
    const int id = item.Subscribe([guard, apply] {
        if (guard) apply();
    });
    QObject::connect(action, &QObject::destroyed, [&item, id] { item.Unsubscribe(id); });
    QObject::connect(action, &QAction::triggered, action, [&item] { item.Click(); });
}

}  // namespace zrx::qt
