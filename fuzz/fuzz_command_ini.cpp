// The command-line token and the INI reader.
#include "base/command_line.h"
#include "base/ini_file.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zrx;
    std::string text(reinterpret_cast<const char*>(data), size);
    int16_t error = 0;
    std::string rest = text;
    for (int i = 0; i < 4 && !rest.empty(); ++i) (void)NextCommandToken(rest, error);
    const std::string ini = fuzz::WriteInput("ZARNIX32.INI", text);
    for (const char* key : {"LibDir", "JobDir", "ZSMsbk", ""}) (void)ReadIniString(ini, "Zarnix32", key, "\\Zarnix32\\LIB");
    (void)ReadIniString(ini, "", "", "");
    return 0;
}
