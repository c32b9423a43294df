#include "shell/ini_file.h"

#include <fstream>

#include "shell/text_utils.h"

namespace zrx {

namespace {

std::string TrimIniBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return std::string(text.substr(first, last - first + 1));
}

std::string CutToBuffer(std::string value) {
    if (value.size() > kIniBufferSize) value.resize(kIniBufferSize);
    return value;
}

}  // namespace

std::string ReadIniString(const std::string& iniFile, std::string_view section, std::string_view key,
                          std::string_view defaultValue) {
    std::ifstream in(iniFile, std::ios::binary);
    if (!in) return CutToBuffer(std::string(defaultValue));

    const std::string wantedKey = TrimIniBlanks(key);
    bool inSection = false;
    std::string line;
    while (std::getline(in, line)) {
        const std::string trimmed = TrimIniBlanks(line);
        if (trimmed.empty() || trimmed[0] == ';') continue;
        if (trimmed[0] == '[') {
            const auto close = trimmed.find(']');
            const std::string name =
                TrimIniBlanks(close == std::string::npos ? trimmed.substr(1) : trimmed.substr(1, close - 1));
            inSection = EqualsIgnoreCase(name, TrimIniBlanks(section));
            continue;
        }
        if (!inSection) continue;
        const auto equals = trimmed.find('=');
        if (equals == std::string::npos) continue;
        if (!EqualsIgnoreCase(TrimIniBlanks(trimmed.substr(0, equals)), wantedKey)) continue;
        std::string value = TrimIniBlanks(trimmed.substr(equals + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return CutToBuffer(std::move(value));
    }
    return CutToBuffer(std::string(defaultValue));
}

}  // namespace zrx
