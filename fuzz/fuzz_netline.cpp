// The net-line normalisation and word split of subcircuit files.
#include "apply/index_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zrx;
    const std::string normalised = NormaliseNetLine(std::string_view(reinterpret_cast<const char*>(data), size));
    (void)SplitWords(normalised);
    return 0;
}
