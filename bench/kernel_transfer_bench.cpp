// Moves N elements one at a time through the kernel exactly as a transfer does, and, in the same
// run, the same rows with one bulk SQLite copy; prints both times and their ratio.
#include "bench_support.h"

using namespace zrx::bench;

namespace {

double TransferOneByOne(const std::string& source, const std::string& target, bool parts,
                        const std::vector<std::string>& names) {
    const char* kind = parts ? ZK_KIND_PART_LIBRARY : ZK_KIND_SYMBOL_LIBRARY;
    const int32_t slot = parts ? ZK_SLOT_PART : ZK_SLOT_MODEL;
    const auto start = Clock::now();
    for (const std::string& name : names) {
        const int32_t in = E_OpenLibrary(source.c_str(), kind, 0);
        const int32_t readCursor = E_OpenLibToRead(in, name.c_str());
        const int32_t id = parts ? D_LoadDevice(slot, readCursor) : S_LoadSymbol(slot, readCursor);
        O_Rename(parts ? D_Device(id) : S_Symbol(id), name.c_str());
        E_CloseLibrary(in);
        const int32_t out = E_OpenLibrary(target.c_str(), kind, -1);
        const int32_t writeCursor = E_OpenLibToWrite(out, name.c_str());
        const int32_t saved = parts ? D_SaveDevice(id, writeCursor) : S_SaveSymbol(id, writeCursor);
        if (saved == 0) {
            std::fprintf(stderr, "save failed for %s\n", name.c_str());
            std::exit(1);
        }
        E_CloseLibWrite(out);
        E_CloseLibrary(out);
    }
    E_FlushLibraries();
    return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::atoi(argv[1]) : 10000;
    const auto dir = fs::temp_directory_path() / ("zrx-kernel-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    EnsureDatabase();

    std::printf("%-34s %10s %10s %8s\n", "kernel transfer, N elements", "per-elem s", "bulk s", "ratio");
    double totalOne = 0, totalBulk = 0;
    for (const bool parts : {true, false}) {
        const std::string source = (dir / (parts ? "src.PART" : "src.SPARAM")).string();
        const auto names = Names(parts ? "PART" : "MODEL", n);
        WriteLibrary(source, parts, names);
        const double one = TransferOneByOne(source, (dir / (parts ? "dst.PART" : "dst.SPARAM")).string(), parts, names);
        auto start = Clock::now();
        BulkCopy(source, (dir / (parts ? "bulk.PART" : "bulk.SPARAM")).string());
        const double bulk = Seconds(start);
        totalOne += one;
        totalBulk += bulk;
        std::printf("%-34s %10.3f %10.3f %8.1f\n",
                    (std::to_string(n) + (parts ? " parts (2 groups x 10 pins)" : " models (2 text items)")).c_str(),
                    one, bulk, one / bulk);
    }
    const double ratio = totalOne / totalBulk;
    std::printf("%-34s %10.3f %10.3f %8.1f%s\n", "all", totalOne, totalBulk, ratio, ratio > 10 ? "  over target (10)" : "");
    fs::remove_all(dir);
    return 0;
}
