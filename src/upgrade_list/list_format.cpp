#include "upgrade_list/list_format.h"

#include <algorithm>

#include "base/text_utils.h"
#include "kernel/installation.h"

namespace zrx {

bool IsAcceptedHeaderField(std::string_view field2) { return ToUpper(field2) == "UPGRADE.PART"; }

int RecordTypeOf(float value) {
    for (const int type : {0, 1, 2, 3, 4, 5, 6, 7, 99})
        if (value == static_cast<float>(type)) return type;
    return -1;
}

const std::string& TargetDirForCode(int32_t code, const Environment& env) {
    switch (code) {
        case 2: return env.JobDir;
        case 3: return env.SysDir;
        case 4: return env.ZSMcml;
        case 5: return env.ZSMmod;
        case 6:
        case 9: return env.ZSMsbk;
        case 7: return env.ZSMudn;
        case 8: return env.ZSMwrk;
        default: return env.LibDir;
    }
}

int32_t TargetCodeForText(std::string_view text) {
    for (size_t i = 0; i < kTargetTexts.size(); ++i)
        if (kTargetTexts[i] == text) return static_cast<int32_t>(i + 1);
    return 1;
}

std::optional<std::string> UnsafeNameReason(std::string_view name) {
    // One pass finds the characters that can make a name unsafe (the first control character or
    // separator gives the reason); most names hold none of them. Two dots inside a name
    // ("ver1..2.txt") are an ordinary name.
    bool blanksOnly = true, ascii = true;
    const char* badCharacter = nullptr;
    for (const char c : name) {
        const auto code = static_cast<unsigned char>(c);
        blanksOnly = blanksOnly && c == ' ';
        ascii = ascii && code < 0x80;
        if (badCharacter == nullptr && (code < 32 || code == 127)) badCharacter = "a control character";
        if (badCharacter == nullptr && (c == '/' || c == '\\')) badCharacter = "a path separator";
    }
    if (blanksOnly) return "an empty name";
    if (badCharacter != nullptr) return badCharacter;
    // A name that would read as another ("\u202eLAT.exe.TAL" shows as "TAL.exe.TAL").
    if (!ascii && HasReorderingMark(name)) return "a mark that reorders the text around it";
    const std::string_view trimmed = TrimmedBlanks(name);
    if (trimmed == "." || trimmed == "..") return "\"" + std::string(trimmed) + "\"";
    if (name.size() >= 2 && name[1] == ':' && ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')))
        return "a drive";
    return std::nullopt;
}

std::optional<std::string> ListField(std::string_view text) {
    if (text.find_first_of("\r\n") != std::string_view::npos) return std::nullopt;
    const bool needsQuotes = text.find(',') != std::string_view::npos || (!text.empty() && text.front() == '"');
    if (!needsQuotes) return std::string(text);
    if (text.find('"') != std::string_view::npos) return std::nullopt;
    return "\"" + std::string(text) + "\"";
}

std::optional<std::string> UnlistableNameReason(std::string_view name, bool isPath) {
    if (isPath)
        if (auto reason = UnsafeNameReason(name)) return reason;
    if (name.find_first_of("\r\n") != std::string_view::npos) return "a line break";
    if (isPath && !name.empty() && (name.front() == ' ' || name.back() == ' ')) return "blanks around it";
    if (!ListField(name)) return "a double quote in a name that needs quotes for its comma or its first double quote";
    return std::nullopt;
}

std::string ListableDescription(std::string_view description) {
    std::string text = TrimBlanks(OnOneLine(std::string(description)));
    if (!ListField(text)) std::replace(text.begin(), text.end(), '"', '\'');
    return text;
}

bool IsSubcircuitFile(std::string_view name) {
    return EndsWith(ToUpper(TrimmedBlanks(name)), ".SBC");
}

}  // namespace zrx
