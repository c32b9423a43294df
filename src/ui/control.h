#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/dialogs.h"

namespace zrx::ui {

// The user-interface font chosen at start-up; an unset font keeps the design font.

// A control as the handlers see it: a plain object whose state (caption, visibility, contents)
// the handlers read and set. A window shows it by subscribing to its changes.
class Control {
public:
    Control(std::string name, int index = -1, std::string caption = {}, std::string tag = {});
    virtual ~Control() = default;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    const std::string& Name() const { return m_name; }
    // Member index of a control array (F_Help(1)); -1 for a single control.
    int Index() const { return m_index; }
    std::string FullName() const;

    const std::string& Caption() const { return m_caption; }
    void SetCaption(std::string caption);
    // The message number that localises the caption, as decimal text; empty for none.
    const std::string& Tag() const { return m_tag; }
    bool Visible() const { return m_visible; }
    void SetVisible(bool visible);
    bool Enabled() const { return m_enabled; }
    void SetEnabled(bool enabled);
    const UiFont& Font() const { return m_font; }
    void SetFont(UiFont font);
    bool Bold() const { return m_bold; }
    void SetBold(bool bold);

    // Observers are called after every change of the control's state.
    int Subscribe(std::function<void()> observer);
    void Unsubscribe(int id);

    // Holds the notifications back while many changes are made (filling a large list or grid);
    // observers hear once, when the last block ends.
    class UpdateBlock {
    public:
        explicit UpdateBlock(Control& control) : m_control(control) { ++m_control.m_blocked; }
        ~UpdateBlock() {
            if (--m_control.m_blocked == 0 && m_control.m_changedWhileBlocked) {
                m_control.m_changedWhileBlocked = false;
                m_control.Changed();
            }
        }
        UpdateBlock(const UpdateBlock&) = delete;
        UpdateBlock& operator=(const UpdateBlock&) = delete;

    private:
        Control& m_control;
    };

protected:
    void Changed();

private:
    std::string m_name;
    int m_index;
    std::string m_caption;
    std::string m_tag;
    bool m_visible = true;
    bool m_enabled = true;
    bool m_bold = false;
    UiFont m_font;
    std::map<int, std::function<void()>> m_observers;
    int m_nextObserver = 1;
    int m_blocked = 0;
    bool m_changedWhileBlocked = false;
};

// A label; as the status line of a long operation, what the routine says is its caption.
class Label : public Control, public StatusLine {
public:
    enum class Style { Plain, Status };  // Status: yellow text on blue, as status and path labels
    Label(std::string name, std::string caption = {}, Style style = Style::Plain, int index = -1)
        : Control(std::move(name), index, std::move(caption)), m_style(style) {}
    Style GetStyle() const { return m_style; }
    void Say(const std::string& text) override { SetCaption(text); }
    const std::string& Said() const override { return Caption(); }

private:
    Style m_style;
};

class Button : public Control {
public:
    using Control::Control;
    std::function<void()> onClick;
    // What a mouse click does: the handler runs when the button is enabled and visible.
    void Click();
};

// One of a group of mutually exclusive options.
class OptionButton : public Control {
public:
    using Control::Control;
    bool Value() const { return m_value; }
    // Sets the value; setting it clears the other members of the group.
    void SetValue(bool value);
    void SetGroup(std::vector<OptionButton*> group) { m_group = std::move(group); }
    std::function<void()> onClick;
    void Click();

private:
    bool m_value = false;
    std::vector<OptionButton*> m_group;
};

// A box that is checked or not, each click turning it over.
class CheckBox : public Control {
public:
    using Control::Control;
    bool Value() const { return m_value; }
    void SetValue(bool value);
    std::function<void()> onClick;
    void Click();

private:
    bool m_value = false;
};

class TextBox : public Control {
public:
    TextBox(std::string name, std::string text = {}, bool multiLine = false, bool readOnly = false)
        : Control(std::move(name)), m_text(std::move(text)), m_multiLine(multiLine), m_readOnly(readOnly) {}
    const std::string& Text() const { return m_text; }
    void SetText(std::string text);
    bool MultiLine() const { return m_multiLine; }
    bool ReadOnly() const { return m_readOnly; }
    // A key typed into the box goes through onKeyPress first, which may replace it or discard it
    // (return 0). Returns the key that reaches the text.
    std::function<int(int)> onKeyPress;
    std::function<void()> onLostFocus;
    std::function<void()> onChange;
    int KeyPress(int key) { return onKeyPress ? onKeyPress(key) : key; }
    void LoseFocus() {
        if (onLostFocus) onLostFocus();
    }
    // Text typed by the user (as opposed to set by a handler).
    void UserEdit(std::string text);

private:
    std::string m_text;
    bool m_multiLine;
    bool m_readOnly;
};

class Frame : public Control {
public:
    using Control::Control;
};

class MenuItem : public Control {
public:
    MenuItem(std::string name, std::string caption, int index = -1, bool separator = false)
        : Control(std::move(name), index, std::move(caption)), m_separator(separator) {}
    bool Separator() const { return m_separator; }
    std::vector<MenuItem*>& Children() { return m_children; }
    std::function<void()> onClick;
    void Click();

private:
    bool m_separator;
    std::vector<MenuItem*> m_children;
};

// A drop-down list whose text is one of its items.
class ComboBox : public Control {
public:
    using Control::Control;
    const std::vector<std::string>& Items() const { return m_items; }
    void AddItem(std::string item);
    void Clear();
    int ListIndex() const { return m_index; }
    void SetListIndex(int index);
    std::string Text() const;
    std::function<void()> onClick;
    void UserSelect(int index);

private:
    std::vector<std::string> m_items;
    int m_index = -1;
};

}  // namespace zrx::ui
