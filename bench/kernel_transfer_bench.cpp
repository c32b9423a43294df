// Moves N elements one at a time through the kernel exactly as a transfer does, and, in the same
// run, the same rows with one bulk SQLite copy; prints both times and their ratio.
#include <sqlite3.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "zrxkernel.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

std::vector<std::string> MakeSource(const std::string& path, bool parts, int n) {
    std::vector<std::string> names;
    const int32_t lib = E_OpenLibrary(path.c_str(), parts ? ZK_KIND_PART_LIBRARY : ZK_KIND_SYMBOL_LIBRARY, -1);
    for (int i = 0; i < n; ++i) {
        const std::string name = (parts ? "PART" : "MODEL") + std::to_string(100000 + i);
        int32_t object = 0;
        if (parts) {
            object = D_CreateDevice(0, name.c_str(), "QUAD 2-INPUT NAND", "TTL");
            D_AddPin(D_SupplyPinArray(object), 14, "VCC");
            D_AddPin(D_SupplyPinArray(object), 7, "GND");
            for (int g = 1; g <= 2; ++g) {
                D_AddGroup(object, ("G" + std::to_string(g)).c_str(), "NAND2");
                for (int p = 1; p <= 10; ++p) D_AddPin(D_GroupPinArray(object, g), p, ("P" + std::to_string(p)).c_str());
            }
        } else {
            object = S_CreateSymbol(name.c_str(), ZK_CLASS_MODEL);
            S_AddItem(object, ZK_ITEM_TEXT, "NPN,BJT");
            S_AddItem(object, ZK_ITEM_TEXT, "general purpose small-signal transistor");
        }
        const int32_t cursor = E_OpenLibToWrite(lib, name.c_str());
        parts ? D_SaveDevice(object, cursor) : S_SaveSymbol(object, cursor);
        E_CloseLibWrite(lib);
        OM_Delete(parts ? DB_DeviceMap() : DB_SymbMap(), object);
        names.push_back(name);
    }
    E_CloseLibrary(lib);
    E_FlushLibraries();
    return names;
}

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

double BulkCopy(const std::string& source, const std::string& target) {
    const auto start = Clock::now();
    sqlite3* db = nullptr;
    sqlite3_open(target.c_str(), &db);
    const std::string sql =
        "CREATE TABLE elements(name TEXT PRIMARY KEY NOT NULL, data BLOB NOT NULL) WITHOUT ROWID;"
        "ATTACH '" + source + "' AS src;"
        "BEGIN; INSERT INTO main.elements SELECT name, data FROM src.elements; COMMIT;";
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "bulk copy failed: %s\n", error);
        std::exit(1);
    }
    sqlite3_close(db);
    return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::atoi(argv[1]) : 10000;
    const auto dir = std::filesystem::temp_directory_path() / ("zrx-kernel-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    char hierarchy[] = "MAINHIER", page[] = "MAINPAGE";
    DB_CreateDataBase("Untitled", hierarchy, page);

    std::printf("%-34s %10s %10s %8s\n", "kernel transfer, N elements", "per-elem s", "bulk s", "ratio");
    double totalOne = 0, totalBulk = 0;
    for (const bool parts : {true, false}) {
        const std::string source = (dir / (parts ? "src.PART" : "src.SPARAM")).string();
        const auto names = MakeSource(source, parts, n);
        const double one = TransferOneByOne(source, (dir / (parts ? "dst.PART" : "dst.SPARAM")).string(), parts, names);
        const double bulk = BulkCopy(source, (dir / (parts ? "bulk.PART" : "bulk.SPARAM")).string());
        totalOne += one;
        totalBulk += bulk;
        std::printf("%-34s %10.3f %10.3f %8.1f\n",
                    (std::to_string(n) + (parts ? " parts (2 groups x 10 pins)" : " models (2 text items)")).c_str(),
                    one, bulk, one / bulk);
    }
    const double ratio = totalOne / totalBulk;
    std::printf("%-34s %10.3f %10.3f %8.1f%s\n", "all", totalOne, totalBulk, ratio, ratio > 10 ? "  over target (10)" : "");
    std::filesystem::remove_all(dir);
    return 0;
}
