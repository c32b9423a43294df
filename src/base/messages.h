#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zrx {
namespace ui {
class Dialogs;
}

// Title of every box that has no title of its own.
inline constexpr std::string_view kAppTitle = "Zarnix32 Library Upgrade";

// The text to show for a message: the localised text of the number (the numeric value of
// `numberText`, so "4436 " and "4436" are the same and "" is 0), trimmed and given the leading and
// trailing blanks of the default; the default itself when no localised text exists.
std::string GetLocalMessage(std::string_view defaultText, std::string_view numberText);
std::string GetLocalMessage(std::string_view defaultText, int32_t number);

// Texts that this program adds beyond the suite's messages (captions of the window, the preview
// and the undo) have numbers from its own range, so that they never meet the suite's numbers.
inline constexpr int32_t kOwnMessageFirst = 20001;
inline constexpr int32_t kOwnMessageLast = 20999;

// The text and icon of the error box for a code, the extra text already appended. Codes outside
// the table show only "Unknown Error" with the critical icon.
struct ErrorBoxText {
    std::string text;
    bool critical = false;
};
ErrorBoxText ErrorTextForCode(int32_t code, std::string_view extra);

// Shows the error box for a code with an OK button and the application title.
void ShowErrorByCode(ui::Dialogs& dialogs, int32_t code, std::string_view extra);

// A box with the application title and an OK button: a warning (something was not done, or done
// in part), or a failure that stopped what the user asked for.
void ShowWarning(ui::Dialogs& dialogs, const std::string& text);
void ShowCritical(ui::Dialogs& dialogs, const std::string& text);

// A system-modal Yes/No question with the question icon and the application title; true for Yes.
bool AskYesNo(ui::Dialogs& dialogs, std::string_view question);

}  // namespace zrx
