#include "zrxlocal.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

struct Catalog {
    bool loaded = false;
    std::unordered_map<int32_t, std::string> texts;
};

std::mutex g_mutex;
Catalog g_catalog;

std::string LanguageFromLocale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value == nullptr || *value == '\0') continue;
        std::string locale(value);
        const auto end = locale.find_first_of("_.@");
        std::string language = locale.substr(0, end);
        for (char& c : language) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (language == "c" || language == "posix") return {};
        return language;
    }
    return {};
}

std::string ExecutableDirectory() {
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0) return {};
    std::string path(buffer.data(), static_cast<size_t>(length));
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool IsValidLanguage(const std::string& language) {
    if (language.empty() || language.size() > 16) return false;
    for (char c : language)
        if (!(c >= 'a' && c <= 'z')) return false;
    return true;
}

// Parses "number<TAB>text"; the number is an optional minus and decimal digits within 32 bits.
std::optional<std::pair<int32_t, std::string>> ParseLine(const std::string& line) {
    const auto tab = line.find('\t');
    if (tab == std::string::npos || tab == 0) return std::nullopt;
    const std::string number = line.substr(0, tab);
    size_t first = number[0] == '-' ? 1 : 0;
    if (first == number.size()) return std::nullopt;
    for (size_t i = first; i < number.size(); ++i)
        if (number[i] < '0' || number[i] > '9') return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(number.c_str(), &end, 10);
    if (errno != 0 || value < INT32_MIN || value > INT32_MAX) return std::nullopt;
    std::string text = line.substr(tab + 1);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
    if (text.find('\0') != std::string::npos) return std::nullopt;
    return std::make_pair(static_cast<int32_t>(value), std::move(text));
}

void LoadCatalog(Catalog& catalog) {
    catalog.loaded = true;
    catalog.texts.clear();
    const std::string language = LanguageFromLocale();
    if (!IsValidLanguage(language) || language == "en") return;

    std::vector<std::string> folders;
    if (const char* dir = std::getenv("ZRXLIBUG_LANG_DIR"); dir != nullptr && *dir != '\0')
        folders.emplace_back(dir);
    // Beside the program (the build tree), in the data directory of the installation the program
    // runs from (wherever the package was put), then where it was built to be installed.
    if (const std::string exeDir = ExecutableDirectory(); !exeDir.empty()) {
        folders.push_back(exeDir + "/lang");
        folders.push_back(exeDir + "/../share/zrxlibug/lang");
    }
    folders.emplace_back(ZRXLOCAL_DATA_DIR);

    for (const std::string& folder : folders) {
        std::ifstream in(folder + "/zrxlibug." + language + ".msg", std::ios::binary);
        if (!in) continue;
        std::string line;
        while (std::getline(in, line)) {
            if (auto entry = ParseLine(line)) catalog.texts.emplace(entry->first, std::move(entry->second));
        }
        return;
    }
}

}  // namespace

extern "C" const char* L32_Object_GetMessage(int32_t number) {
    std::lock_guard lock(g_mutex);
    if (!g_catalog.loaded) LoadCatalog(g_catalog);
    const auto it = g_catalog.texts.find(number);
    return it == g_catalog.texts.end() ? nullptr : it->second.c_str();
}

extern "C" void L32_Object_Reset(void) {
    std::lock_guard lock(g_mutex);
    g_catalog = Catalog{};
}
