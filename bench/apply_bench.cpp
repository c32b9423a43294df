// Applies a generated upgrade of N parts and N symbols with zrxlibug-cli apply --yes, and, in the
// same run, copies the same element rows with one bulk SQLite copy; prints both and the ratio.
#include "bench_support.h"

using namespace zrx::bench;

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::atoi(argv[1]) : 10000;
    const std::string root = (fs::temp_directory_path() / ("zrx-apply-bench-" + std::to_string(::getpid()))).string();
    const std::string suite = root + "/suite", upgrade = root + "/upgrade";
    WriteSuite(suite);
    fs::create_directories(upgrade);
    const auto parts = Names("PART", n), symbols = Names("SYM", n);
    WriteLibrary(upgrade + "/Upgrade.PART", true, parts);
    WriteLibrary(upgrade + "/A_Upg.SYMBOL", false, symbols);
    std::string list = "0,Upgrade.PART,A_Upg.SYMBOL,I_Upg.SYMBOL,Upgrade.PACKAGE,Upgrade.SPARAM,Upgrade.MPARAM\r\n";
    for (const auto& name : parts) list += "1,0,1," + name + ",Big.PART\r\n";
    for (const auto& name : symbols) list += "2,0,1," + name + ",Big.SYMBOL,A_Upg.SYMBOL\r\n";
    WriteText(upgrade + "/Upgrade.lst", list + "99,END\r\n");

    const std::string command = BinDir() + "/zrxlibug-cli apply --suite '" + suite + "' --yes '" + upgrade +
                                "' >/dev/null 2>&1 </dev/null";
    auto start = Clock::now();
    const int status = std::system(command.c_str());
    const double apply = Seconds(start);
    if (status != 0) {
        std::fprintf(stderr, "apply failed with status %d\n", status);
        return 1;
    }
    start = Clock::now();
    BulkCopy(upgrade + "/Upgrade.PART", root + "/bulk.PART");
    BulkCopy(upgrade + "/A_Upg.SYMBOL", root + "/bulk.SYMBOL");
    const double bulk = Seconds(start);

    std::printf("%-52s %9s %9s %7s\n", "", "seconds", "bulk", "ratio");
    PrintRow("apply " + std::to_string(n) + " parts + " + std::to_string(n) + " symbols (zrxlibug-cli)", apply, bulk, 10);
    // ZRX_BENCH_KEEP leaves the generated folders for a profiler.
    if (std::getenv("ZRX_BENCH_KEEP") != nullptr) std::printf("kept: %s\n", root.c_str());
    else fs::remove_all(root);
    return 0;
}
