// The library exchange import, into a fresh library each time.
#include <filesystem>

#include "fuzz_support.h"
#include "kernel/library_exchange.h"
#include "kernel/zrxkernel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zrx;
    const std::string path = fuzz::ScratchDir() + "/fuzz.PART";
    std::filesystem::remove(path);
    if (ImportLibrary(path, std::string_view(reinterpret_cast<const char*>(data), size)))
        (void)ExportLibrary(path);
    E_FlushLibraries();
    return 0;
}
