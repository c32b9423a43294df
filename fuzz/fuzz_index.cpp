// Additions to the index files: the first part of the input is the index, every following line
// an entry and its library (separated by a tab).
#include <sstream>

#include "apply/index_files.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zrx;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto split = text.find('\0');
    const std::string path = fuzz::WriteInput("index.idx", text.substr(0, split));
    for (const auto kind : {IndexFile::Kind::ModelIndex, IndexFile::Kind::SubcircuitIndex}) {
        auto index = IndexFile::Load(path, kind);
        if (!index) continue;
        if (split != std::string::npos) {
            std::istringstream entries(text.substr(split + 1));
            std::string line;
            while (std::getline(entries, line)) {
                const auto tab = line.find('\t');
                index->Add(line.substr(0, tab), tab == std::string::npos ? std::string() : line.substr(tab + 1));
            }
        }
        index->Save();
    }
    return 0;
}
