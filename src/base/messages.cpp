#include "base/messages.h"

#include "base/dialogs.h"
#include "base/fields.h"
#include "base/text_utils.h"
#include "zrxlocal.h"

namespace zrx {

std::string GetLocalMessage(std::string_view defaultText, int32_t number) {
    const char* localised = L32_Object_GetMessage(number);
    if (localised == nullptr) return std::string(defaultText);
    // The default's own blanks stay around the localised text: callers append names directly.
    const auto first = defaultText.find_first_not_of(' ');
    const size_t leading = first == std::string_view::npos ? defaultText.size() : first;
    const size_t trailing =
        first == std::string_view::npos ? 0 : defaultText.size() - 1 - defaultText.find_last_not_of(' ');
    return std::string(leading, ' ') + TrimBlanks(StringFromPointer(localised)) + std::string(trailing, ' ');
}

std::string GetLocalMessage(std::string_view defaultText, std::string_view numberText) {
    return GetLocalMessage(defaultText, LeadingInteger(numberText).value_or(0));
}

ErrorBoxText ErrorTextForCode(int32_t code, std::string_view extra) {
    struct Row {
        int32_t code;
        int32_t number;  // 0: a literal that is not localised
        std::string_view text;
    };
    static constexpr Row kRows[] = {
        {1, 4435, "Cannot copy file   "},
        {2, 4436, "Cannot copy part  "},
        {3, 4437, "Cannot open destination library   "},
        {4, 4438, "Cannot load part   "},
        {5, 4438, "Cannot load part  "},
        {6, 4439, "Cannot open library  "},
        {7, 4440, "Cannot save symbol   "},
        {8, 4441, "Cannot load symbol   "},
        {9, 4442, "Make sure that Upgrade files are in the specified path :  "},
        {10, 4443, "This application requires Zarnix32.exe to be running"},
        {13, 0, "Select destination folder to place Upgrade files"},
        {14, 0, "File not found:   "},
        {15, 0, "Upgrade file(s) created"},
        {16, 0, "This application requires Windows 3.1 or later "},
        {17, 4465, "Make sure Zarnix32 is running  "},
        {18, 4482, "Cannot perform library upgradation without clearing database"},
    };
    if (code == 19) return {GetLocalMessage("Wrong Format", 991411) + " : " + std::string(extra), false};
    for (const Row& row : kRows) {
        if (row.code != code) continue;
        std::string text = row.number == 0 ? std::string(row.text) : GetLocalMessage(row.text, row.number);
        return {text + std::string(extra), false};
    }
    return {GetLocalMessage("Unknown Error", 4444), true};
}

void ShowErrorByCode(ui::Dialogs& dialogs, int32_t code, std::string_view extra) {
    ErrorBoxText box = ErrorTextForCode(code, extra);
    dialogs.ShowMessage({std::move(box.text), std::string(kAppTitle),
                         box.critical ? ui::Icon::Critical : ui::Icon::Warning, ui::Buttons::Ok, false});
}

void ShowWarning(ui::Dialogs& dialogs, const std::string& text) {
    dialogs.ShowMessage({text, std::string(kAppTitle), ui::Icon::Warning, ui::Buttons::Ok, false});
}

void ShowCritical(ui::Dialogs& dialogs, const std::string& text) {
    dialogs.ShowMessage({text, std::string(kAppTitle), ui::Icon::Critical, ui::Buttons::Ok, false});
}

bool AskYesNo(ui::Dialogs& dialogs, std::string_view question) {
    return dialogs.ShowMessage({std::string(question), std::string(kAppTitle), ui::Icon::Question,
                                ui::Buttons::YesNo, true}) == ui::Answer::Yes;
}

}  // namespace zrx
