#pragma once

#include <QFont>
#include <QString>
#include <functional>
#include <string>

class QEvent;
class QObject;
class QWidget;
class QLabel;
class QPushButton;
class QRadioButton;
class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QComboBox;
class QListView;
class QListWidget;
class QTableView;
class QGroupBox;
class QAction;

namespace zrx::ui {
class Control;
class Label;
class Button;
class OptionButton;
class CheckBox;
class TextBox;
class ComboBox;
class ListBox;
class DriveList;
class DirList;
class Grid;
class Frame;
class MenuItem;
struct UiFont;
}  // namespace zrx::ui

namespace zrx::qt {

// Texts are single-byte: UTF-8 when valid, otherwise Windows-1252.
QString ToQt(const std::string& text);
std::string FromQt(const QString& text);
QFont FontOf(const ui::UiFont& font, const QFont& fallback);

// Calls `hook` for every event of `target` (a true result stops the event there), for as long as
// the target lives.
void Hook(QObject* target, std::function<bool(QEvent*)> hook);

// Keeps a widget in step with its control model: `apply` runs now and after the model changes
// (a burst of changes is applied once, when the event loop next runs). The subscription ends with
// the widget.
void Track(QWidget* widget, ui::Control& control, std::function<void()> apply);

// Each Bind keeps the widget in step with the model and forwards the user's actions to it.
void Bind(QLabel* widget, ui::Label& label);
void Bind(QPushButton* widget, ui::Button& button);
void Bind(QRadioButton* widget, ui::OptionButton& option);
void Bind(QCheckBox* widget, ui::CheckBox& box);
void Bind(QLineEdit* widget, ui::TextBox& box);
void Bind(QPlainTextEdit* widget, ui::TextBox& box);
void Bind(QComboBox* widget, ui::ComboBox& combo);
void Bind(QComboBox* widget, ui::DriveList& drives);
void Bind(QListView* widget, ui::ListBox& list);
void Bind(QListWidget* widget, ui::DirList& dirs);
void Bind(QTableView* widget, ui::Grid& grid);
void Bind(QGroupBox* widget, ui::Frame& frame);
void Bind(QWidget* widget, ui::Frame& frame);
void Bind(QAction* action, ui::MenuItem& item);

}  // namespace zrx::qt
