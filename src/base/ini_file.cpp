#include "base/ini_file.h"

#include "base/text_file.h"
#include "base/text_utils.h"

namespace zrx {

namespace {

// What the platform's reader trims from the names and values it finds in a file: blanks, tabs,
// vertical tabs, form feeds and the end-of-file mark (Ctrl-Z).
bool IsFileBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1a';
}

std::string_view TrimFileBlanks(std::string_view text) {
    while (!text.empty() && IsFileBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsFileBlank(text.back())) text.remove_suffix(1);
    return text;
}

std::string CutToBuffer(std::string value) {
    if (value.size() > kIniBufferSize) value.resize(kIniBufferSize);
    return value;
}

// A file that starts with the UTF-16 little-endian byte-order mark is read as UTF-16 (the platform
// does), here turned into UTF-8; any other file is taken byte for byte, a UTF-8 byte-order mark
// included (the platform reads it as part of the first line).
void ToSingleBytes(std::string& content) {
    if (content.size() < 2 || static_cast<unsigned char>(content[0]) != 0xFF ||
        static_cast<unsigned char>(content[1]) != 0xFE)
        return;
    std::string text;
    auto unit = [&content](size_t i) {
        return static_cast<uint32_t>(static_cast<unsigned char>(content[i])) |
               static_cast<uint32_t>(static_cast<unsigned char>(content[i + 1])) << 8;
    };
    for (size_t i = 2; i + 1 < content.size(); i += 2) {
        uint32_t code = unit(i);
        if (code >= 0xD800 && code < 0xDC00 && i + 3 < content.size() && unit(i + 2) >= 0xDC00 &&
            unit(i + 2) < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
            i += 2;
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            text += static_cast<char>(code);
        } else if (code < 0x800) {
            text += static_cast<char>(0xC0 | code >> 6);
            text += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            text += static_cast<char>(0xE0 | code >> 12);
            text += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            text += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | code >> 18);
            text += static_cast<char>(0x80 | (code >> 12 & 0x3F));
            text += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            text += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    content = std::move(text);
}

}  // namespace

std::string ReadIniString(const std::string& iniFile, std::string_view section, std::string_view key,
                          std::string_view defaultValue) {
    // The default loses its trailing blanks; the names asked for lose leading and trailing blanks
    // (spaces only: a tab in a name asked for is part of it).
    std::string byDefault(defaultValue);
    while (!byDefault.empty() && byDefault.back() == ' ') byDefault.pop_back();
    const std::string_view wantedSection = TrimmedBlanks(section);
    const std::string_view wantedKey = TrimmedBlanks(key);

    std::string text;
    if (!ReadWholeFile(iniFile, text)) return CutToBuffer(byDefault);
    ToSingleBytes(text);

    // Lines end at CR, LF or both; empty lines are passed over. Only the first section of the
    // asked name is read, and in it the first line of the key decides.
    bool inSection = false;
    bool sectionSeen = false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        const std::string_view line = TrimFileBlanks(std::string_view(text).substr(pos, end - pos));
        pos = end + 1;
        if (line.empty()) continue;
        if (line.front() == '[') {
            if (sectionSeen) break;
            const auto close = line.find(']');
            const std::string_view name =
                TrimFileBlanks(line.substr(1, close == std::string_view::npos ? line.npos : close - 1));
            inSection = EqualsIgnoreCase(name, wantedSection);
            sectionSeen = inSection;
            continue;
        }
        if (!inSection || line.front() == ';') continue;
        // A line without "=" holds no key (the platform's reader does not list it): a later line of
        // the name decides.
        const auto equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        if (!EqualsIgnoreCase(TrimFileBlanks(line.substr(0, equals)), wantedKey)) continue;
        std::string_view value = TrimFileBlanks(line.substr(equals + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return CutToBuffer(std::string(value));
    }
    return CutToBuffer(byDefault);
}

}  // namespace zrx
