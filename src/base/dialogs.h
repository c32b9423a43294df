#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace zrx::ui {

// A font as the window's texts use it: its name (empty: the design font), size and character set.
struct UiFont {
    std::string name;
    int16_t size = 0;
    int16_t charset = 0;
    bool operator==(const UiFont&) const = default;
};

// A window the dialogs show modally (the window's forms are ones). What it holds only the
// implementations of the interface know.
class ModalForm {
public:
    virtual ~ModalForm() = default;
};

enum class Icon { None, Information, Warning, Critical, Question };
enum class Buttons { Ok, YesNo, AbortRetryIgnore };
enum class Answer { Ok, Yes, No, Abort, Retry, Ignore };

struct MessageBox {
    std::string text;
    std::string title;
    Icon icon = Icon::None;
    Buttons buttons = Buttons::Ok;
    bool systemModal = false;
};

struct SaveFileRequest {
    std::string defaultExtension;  // "TXT"
    std::string filter;            // "Text Files (*.TXT)|*.TXT"
    std::string fileName;          // the name proposed
};

// The line that says what a long operation is doing (the window's status label, a terminal's
// progress line): the working routines write to it, the window shows it.
class StatusLine {
public:
    virtual ~StatusLine() = default;
    virtual void Say(const std::string& text) = 0;
    // What it says now.
    virtual const std::string& Said() const = 0;
};

// Everything modal or global that the handlers ask of the window system goes through this one
// interface, so that the same handlers run in the window, on a terminal and in tests.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    // Shows a modal box and returns the button pressed.
    virtual Answer ShowMessage(const MessageBox& box) = 0;
    // Shows the save dialog; the file name chosen as the dialog gives it back (the proposed name
    // when the user leaves it), or nothing when the user cancels.
    virtual std::optional<std::string> AskSaveFileName(const SaveFileRequest& request) = 0;
    // Asks for a password (a signing key's), not shown as it is typed; nothing when the user
    // cancels or there is nobody to ask.
    virtual std::optional<std::string> AskPassword(const std::string& prompt) = 0;
    // The busy (hourglass) pointer on or off.
    virtual void SetBusy(bool busy) = 0;
    // Lets pending window events run (repaint of the status line during long runs).
    virtual void ProcessEvents() = 0;
    // Shows a form modally; returns when the form is hidden again.
    virtual void ShowModal(ModalForm& form) = 0;
    // Opens the help file at its contents.
    virtual void ShowHelp(const std::string& helpFile) = 0;
    // The displayed width of a text in a font, in the unit of the grids' column widths (pixels).
    virtual int TextWidth(const std::string& text, const UiFont& font) = 0;
    // The main window has been unloaded: the program ends.
    virtual void EndProgram() = 0;
    // Shows how far a long operation has come (`done` of `total`) with a text; a total of 0 ends
    // the display. Where there is nothing to show it on, nothing happens.
    virtual void ShowProgress(const std::string& text, size_t done, size_t total) {
        (void)text, (void)done, (void)total;
    }
};

}  // namespace zrx::ui
