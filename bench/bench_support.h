#pragma once

// Shared pieces of the benchmarks: generated installations and upgrades, timing, and the bulk
// SQLite copy that the per-element paths are measured against.
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "zrxkernel.h"

namespace zrx::bench {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

inline std::string BinDir() {
    char buffer[PATH_MAX + 1] = {};
    const ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
    const std::string path(buffer, n > 0 ? static_cast<size_t>(n) : 0);
    return path.substr(0, path.rfind('/'));
}

inline void EnsureDatabase() {
    if (DB_CurHier() != 0) return;
    char hierarchy[] = "MAINHIER", page[] = "MAINPAGE";
    DB_CreateDataBase("Untitled", hierarchy, page);
}

// A part with two groups of ten pins, or a symbol with two text items. An older variant of the
// same element differs in its first text; one edited here in its second.
inline int32_t MakeElement(bool part, const std::string& name, bool older = false, bool edited = false) {
    if (part) {
        const int32_t d =
            D_CreateDevice(0, name.c_str(), older ? "QUAD 2-INPUT NAND (older)" : "QUAD 2-INPUT NAND",
                           edited ? "TTL (edited here)" : "TTL");
        D_AddPin(D_SupplyPinArray(d), 14, "VCC");
        D_AddPin(D_SupplyPinArray(d), 7, "GND");
        for (int g = 1; g <= 2; ++g) {
            const std::string group = std::string("G").append(std::to_string(g));
            D_AddGroup(d, group.c_str(), "NAND2");
            for (int p = 1; p <= 10; ++p) {
                const std::string pin = std::string("P").append(std::to_string(p));
                D_AddPin(D_GroupPinArray(d, g), p, pin.c_str());
            }
        }
        return d;
    }
    const int32_t s = S_CreateSymbol(name.c_str(), ZK_CLASS_MODEL);
    S_AddItem(s, ZK_ITEM_TEXT, older ? "NPN,BJT older" : "NPN,BJT");
    S_AddItem(
        s, ZK_ITEM_TEXT,
        edited ? "general purpose transistor (edited here)" : "general purpose small-signal transistor");
    return s;
}

inline void WriteLibrary(const std::string& path, bool parts, const std::vector<std::string>& names,
                         bool older = false, bool edited = false) {
    EnsureDatabase();
    const int32_t lib = E_OpenLibrary(path.c_str(), parts ? ZK_KIND_PART_LIBRARY : ZK_KIND_SYMBOL_LIBRARY, -1);
    for (const std::string& name : names) {
        const int32_t object = MakeElement(parts, name, older, edited);
        const int32_t cursor = E_OpenLibToWrite(lib, name.c_str());
        parts ? D_SaveDevice(object, cursor) : S_SaveSymbol(object, cursor);
        E_CloseLibWrite(lib);
        OM_Delete(parts ? DB_DeviceMap() : DB_SymbMap(), object);
    }
    E_CloseLibrary(lib);
    E_FlushLibraries();
}

inline std::vector<std::string> Names(const std::string& prefix, int n) {
    std::vector<std::string> names;
    for (int i = 0; i < n; ++i) names.push_back(prefix + std::to_string(100000 + i));
    return names;
}

inline void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// An installation whose INI names its nine directories under `dir`.
inline void WriteSuite(const std::string& dir) {
    std::string ini = "[Zarnix32]\r\n";
    for (const auto& [key, sub] : std::vector<std::pair<const char*, const char*>>{
             {"JobDir", "JOB"}, {"LibDir", "LIB"}, {"SysDir", "SYS"}, {"ULM3JobDir", "CADJOB"}, {"ZSMcml", "ZSM_CML"},
             {"ZSMudn", "ZSM_UDN"}, {"ZSMmod", "ZSM_MOD"}, {"ZSMsbk", "ZSM_SBK"}, {"ZSMwrk", "ZSM_WRK"}}) {
        fs::create_directories(dir + "/" + sub);
        ini += std::string(key) + "=" + dir + "/" + sub + "\r\n";
    }
    WriteText(dir + "/ZARNIX32.INI", ini);
}

// Copies every element row of `source` into a new library file `target` in one statement: what
// the storage itself can do, the reference of the per-element paths.
inline void BulkCopy(const std::string& source, const std::string& target) {
    sqlite3* db = nullptr;
    sqlite3_open(target.c_str(), &db);
    const std::string sql =
        "CREATE TABLE IF NOT EXISTS elements(name TEXT PRIMARY KEY NOT NULL, data BLOB NOT NULL) WITHOUT ROWID;"
        "ATTACH '" + source + "' AS src;"
        "BEGIN; INSERT OR REPLACE INTO main.elements SELECT name, data FROM src.elements; COMMIT; DETACH src;";
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "bulk copy failed: %s\n", error);
        std::exit(1);
    }
    sqlite3_close(db);
}

inline void PrintRow(const std::string& what, double measured, double reference, double target) {
    const double ratio = measured / reference;
    std::printf("%-52s %9.3f %9.3f %7.1f %s\n", what.c_str(), measured, reference, ratio,
                ratio > target ? ("over target (" + std::to_string(static_cast<int>(target)) + ")").c_str() : "");
}

}  // namespace zrx::bench
