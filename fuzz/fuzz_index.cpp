// Additions to the index files: the first part of the input is the index, every following line
// an entry and its library (separated by a tab). Adding all entries to one loaded index must give
// the file that adding them one at a time (a load, an addition and a save each) gives.
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include "apply/index_files.h"
#include "fuzz_support.h"

namespace {

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zrx;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto split = text.find('\0');
    std::vector<std::pair<std::string, std::string>> entries;
    if (split != std::string::npos) {
        std::istringstream lines(text.substr(split + 1));
        std::string line;
        while (entries.size() < 64 && std::getline(lines, line)) {
            const auto tab = line.find('\t');
            entries.emplace_back(line.substr(0, tab), tab == std::string::npos ? std::string() : line.substr(tab + 1));
        }
    }
    for (const auto kind : {IndexFile::Kind::ModelIndex, IndexFile::Kind::SubcircuitIndex}) {
        const std::string all = fuzz::WriteInput("all.idx", text.substr(0, split));
        const std::string single = fuzz::WriteInput("single.idx", text.substr(0, split));
        auto index = IndexFile::Load(all, kind);
        if (!index) continue;
        for (const auto& [entry, library] : entries) index->Add(entry, library);
        if (!index->Save()) continue;
        for (const auto& [entry, library] : entries) {
            auto one = IndexFile::Load(single, kind);
            if (!one) __builtin_trap();
            one->Add(entry, library);
            if (!one->Save()) __builtin_trap();
        }
        if (Contents(all) != Contents(single)) __builtin_trap();
    }
    return 0;
}
