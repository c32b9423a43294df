// The benchmark table: each row measured in the same run as its reference, with the ratio, the
// time at a quarter of the size (so that growth shows), and the peak resident memory of the
// process that did the work beside the size of the data it moved.
//
//   zrx_bench            prints the table
//   zrx_bench measure …  one measurement in a process of its own (used by the table)
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <sstream>

#include "apply/index_files.h"
#include "base/text_file.h"
#include "bench_support.h"
#include "program/builder_page.h"
#include "program/app.h"
#include "program/handlers.h"
#include "program/startup.h"
#include "program/upgrade_pages.h"
#include "ui/console/console_dialogs.h"

extern char** environ;

using namespace zrx::bench;

namespace {

// ---- Running a process and measuring it -----------------------------------------------------

struct Run {
    double seconds = 0;    // the wall time of the process, or what it printed as its own time
    double peakMb = 0;     // its peak resident memory
    std::string output;
    int status = -1;
};

// The peak memory is what /usr/bin/time reports for the command: its own child starts small, so
// the figure is the command's and not that of the process that started it.
Run Spawn(const std::vector<std::string>& command, bool capture) {
    const std::string memoryFile = fs::temp_directory_path() / ("zrx-bench-rss-" + std::to_string(::getpid()));
    std::vector<std::string> args = {"/usr/bin/time", "-f", "%M", "-o", memoryFile};
    args.insert(args.end(), command.begin(), command.end());
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int pipeFd[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (capture) {
        ::pipe(pipeFd);
        posix_spawn_file_actions_adddup2(&actions, pipeFd[1], 1);
        posix_spawn_file_actions_addclose(&actions, pipeFd[0]);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    Run run;
    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) return run;
    posix_spawn_file_actions_destroy(&actions);
    if (capture) {
        ::close(pipeFd[1]);
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(pipeFd[0], buffer, sizeof buffer)) > 0) run.output.append(buffer, static_cast<size_t>(n));
        ::close(pipeFd[0]);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.seconds = Seconds(start);
    std::ifstream memory(memoryFile);
    double kilobytes = 0;
    memory >> kilobytes;
    fs::remove(memoryFile);
    run.peakMb = kilobytes / 1024.0;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    // A measuring child prints the time of its measured part.
    if (capture && !run.output.empty()) run.seconds = std::strtod(run.output.c_str(), nullptr);
    return run;
}

Run Measure(const std::vector<std::string>& args) {
    std::vector<std::string> all = {BinDir() + "/zrx_bench", "measure"};
    all.insert(all.end(), args.begin(), args.end());
    return Spawn(all, true);
}

double MegaBytes(const std::vector<std::string>& paths) {
    uintmax_t bytes = 0;
    for (const auto& p : paths) {
        std::error_code error;
        if (fs::is_directory(p, error)) {
            for (const auto& entry : fs::recursive_directory_iterator(p))
                if (entry.is_regular_file()) bytes += entry.file_size();
        } else {
            bytes += fs::file_size(p, error);
        }
    }
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

// ---- Generated data --------------------------------------------------------------------------

struct Counts {
    int parts, symbols, packages, sparams, mparams, files;
};

Counts CountsFor(double scale) {
    auto n = [scale](int full) { return static_cast<int>(std::lround(full * scale)); };
    return {n(10000), n(10000), n(2000), n(2000), n(2000), n(1000)};
}

void WriteSymbols(const std::string& path, const std::vector<std::string>& names, int symbolClass,
                  bool older = false, bool edited = false) {
    EnsureDatabase();
    const int32_t lib = E_OpenLibrary(path.c_str(), ZK_KIND_SYMBOL_LIBRARY, -1);
    for (const auto& name : names) {
        const int32_t s = S_CreateSymbol(name.c_str(), symbolClass);
        S_AddItem(s, ZK_ITEM_TEXT, symbolClass == 3 ? (older ? "NPN,older bipolar transistor" : "NPN,bipolar transistor")
                                                    : (older ? "U? older" : "U?"));
        S_AddItem(s, ZK_ITEM_TEXT,
                  edited ? "generated for the benchmark, edited here" : "generated for the benchmark");
        S_SaveSymbol(s, E_OpenLibToWrite(lib, name.c_str()));
        E_CloseLibWrite(lib);
        OM_Delete(DB_SymbMap(), s);
    }
    E_CloseLibrary(lib);
    E_FlushLibraries();
}

// An installation with generated libraries and data files, and the build arguments that choose
// all of it. The older variant holds every element and file under the same names with other
// content and earlier file times: an upgrade built from the newer one replaces all of it.
// An edited variant differs from the newer one in every element's second text and every file's
// last line, as a librarian's edits would.
std::vector<std::string> GenerateInstallation(const std::string& suite, const Counts& c, bool older = false,
                                              bool edited = false) {
    WriteSuite(suite);
    std::vector<std::string> args;
    auto choose = [&args](const char* option, const std::string& library, const std::vector<std::string>& names) {
        for (const auto& name : names) args.insert(args.end(), {option, library + ":" + name});
    };
    const auto parts = Names("PART", c.parts), symbols = Names("SYM", c.symbols), packages = Names("PKG", c.packages),
               sparams = Names("SMOD", c.sparams), mparams = Names("MMOD", c.mparams);
    WriteLibrary(suite + "/LIB/Gen.PART", true, parts, older, edited);
    WriteSymbols(suite + "/LIB/Gen.SYMBOL", symbols, 1, older, edited);
    WriteSymbols(suite + "/LIB/Gen.PACKAGE", packages, 2, older, edited);
    WriteSymbols(suite + "/ZSM_MOD/Gen.SPARAM", sparams, 3, older, edited);
    WriteSymbols(suite + "/LIB/Gen.MPARAM", mparams, 3, older, edited);
    choose("--part", "Gen.PART", parts);
    choose("--symbol", "Gen.SYMBOL", symbols);
    choose("--package", "Gen.PACKAGE", packages);
    choose("--sparam", "Gen.SPARAM", sparams);
    choose("--mparam", "Gen.MPARAM", mparams);
    // 16 KiB of text lines: the older variant differs in the first, the edited one in the last.
    std::string content;
    for (int line = 0; line < 256; ++line)
        content += std::string(63, line == 0 && older ? 'o' : line == 255 && edited ? 'e' : 'd') + "\n";
    const char* kinds[][3] = {{"--tal", "LIB", "TAL"}, {"--dat", "JOB", "DAT"}, {"--spc", "SYS", "SPC"}};
    for (int i = 0; i < c.files; ++i) {
        const auto* kind = kinds[i % 3];
        const std::string name = std::string("F").append(std::to_string(100000 + i)).append(".").append(kind[2]);
        WriteText(suite + "/" + kind[1] + "/" + name, content);
        if (older)
            fs::last_write_time(suite + "/" + kind[1] + "/" + name, fs::file_time_type::clock::now() - std::chrono::hours(24));
        args.insert(args.end(), {kind[0], name});
    }
    return args;
}

// The libraries GenerateInstallation makes, beside the upgrade library each goes into.
constexpr std::pair<const char*, const char*> kInstalledAndUpgradeLibraries[] = {
    {"LIB/Gen.PART", "Upgrade.PART"},
    {"LIB/Gen.SYMBOL", "A_Upg.SYMBOL"},
    {"LIB/Gen.PACKAGE", "Upgrade.PACKAGE"},
    {"ZSM_MOD/Gen.SPARAM", "Upgrade.SPARAM"},
    {"LIB/Gen.MPARAM", "Upgrade.MPARAM"}};

// An upgrade of everything GenerateInstallation made at `c`, as a build would make it, written
// without the build: a build of ten times the table's size names 560,000 choices, more than one
// command line can carry. The libraries are the installation's own files under the upgrade's names,
// the list names every element and file, and Upgrade.sha256 is made by sha256sum.
void WriteUpgradeOf(const std::string& suite, const Counts& c, const std::string& dest) {
    fs::remove_all(dest);
    fs::create_directories(dest);
    for (const auto& [from, to] : kInstalledAndUpgradeLibraries) fs::copy_file(suite + "/" + from, dest + "/" + to);
    std::string list = "0,Upgrade.PART,A_Upg.SYMBOL,I_Upg.SYMBOL,Upgrade.PACKAGE,Upgrade.SPARAM,Upgrade.MPARAM\r\n";
    auto records = [&list](const char* head, const std::vector<std::string>& names, const char* tail) {
        for (const auto& name : names) list.append(head).append(name).append(tail).append("\r\n");
    };
    records("1,0,1,", Names("PART", c.parts), ",Gen.PART");
    records("2,0,1,", Names("SYM", c.symbols), ",Gen.SYMBOL,A_Upg.SYMBOL");
    records("3,0,1,", Names("PKG", c.packages), ",Gen.PACKAGE");
    records("5,0,5,", Names("SMOD", c.sparams), ",Gen.SPARAM");
    records("6,0,1,", Names("MMOD", c.mparams), ",Gen.MPARAM");
    const char* kinds[][3] = {{"1", "LIB", "TAL"}, {"2", "JOB", "DAT"}, {"3", "SYS", "SPC"}};
    for (int i = 0; i < c.files; ++i) {
        const auto* kind = kinds[i % 3];
        const std::string name = "F" + std::to_string(100000 + i) + "." + kind[2];
        list += std::string("4,0,") + kind[0] + "," + name + "\r\n";
        fs::copy_file(suite + "/" + kind[1] + "/" + name, dest + "/" + name, fs::copy_options::overwrite_existing);
    }
    WriteText(dest + "/Upgrade.lst", list + "99,END\r\n");
    Spawn({"sh", "-c", "cd \"$0\" && sha256sum -- * > ../upgrade.sha256 && mv ../upgrade.sha256 Upgrade.sha256", dest},
          false);
}

// The reference of apply and build: the same element rows copied in bulk and the files with cp.
void CopyLikeTheStorage(const std::string& upgrade, const std::string& target) {
    fs::create_directories(target);
    for (const char* lib : {"Upgrade.PART", "A_Upg.SYMBOL", "Upgrade.PACKAGE", "Upgrade.SPARAM", "Upgrade.MPARAM"})
        if (fs::exists(upgrade + "/" + lib)) BulkCopy(upgrade + "/" + lib, target + "/" + lib);
    std::vector<std::string> cp = {"cp", "-p"};
    for (const auto& entry : fs::directory_iterator(upgrade)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > 4 && name[0] == 'F' && (name.ends_with(".TAL") || name.ends_with(".DAT") || name.ends_with(".SPC")))
            cp.push_back(entry.path().string());
    }
    cp.push_back(target);
    if (cp.size() > 3) Spawn(cp, false);
}

// The reference of the preview: every element's stored data read from the upgrade library and
// from the installed one with plain queries and compared, and every file compared like cmp.
void CompareLikeTheStorage(const std::string& upgrade, const std::string& suite) {
    const std::pair<const char*, const char*> libraries[] = {{"Upgrade.PART", "LIB/Gen.PART"},
                                                             {"A_Upg.SYMBOL", "LIB/Gen.SYMBOL"},
                                                             {"Upgrade.PACKAGE", "LIB/Gen.PACKAGE"},
                                                             {"Upgrade.SPARAM", "ZSM_MOD/Gen.SPARAM"},
                                                             {"Upgrade.MPARAM", "LIB/Gen.MPARAM"}};
    size_t differing = 0;
    for (const auto& [from, to] : libraries) {
        sqlite3 *source = nullptr, *target = nullptr;
        if (sqlite3_open_v2((upgrade + "/" + from).c_str(), &source, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK ||
            sqlite3_open_v2((suite + "/" + to).c_str(), &target, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            sqlite3_close(source);
            sqlite3_close(target);
            continue;
        }
        sqlite3_stmt *all = nullptr, *one = nullptr;
        sqlite3_prepare_v2(source, "SELECT name, data FROM elements", -1, &all, nullptr);
        sqlite3_prepare_v2(target, "SELECT data FROM elements WHERE name=?1", -1, &one, nullptr);
        while (sqlite3_step(all) == SQLITE_ROW) {
            sqlite3_bind_text(one, 1, reinterpret_cast<const char*>(sqlite3_column_text(all, 0)), -1, SQLITE_TRANSIENT);
            const bool same = sqlite3_step(one) == SQLITE_ROW && sqlite3_column_bytes(one, 0) == sqlite3_column_bytes(all, 1) &&
                              std::memcmp(sqlite3_column_blob(one, 0), sqlite3_column_blob(all, 1),
                                          static_cast<size_t>(sqlite3_column_bytes(all, 1))) == 0;
            differing += same ? 0 : 1;
            sqlite3_reset(one);
        }
        sqlite3_finalize(all);
        sqlite3_finalize(one);
        sqlite3_close(source);
        sqlite3_close(target);
    }
    for (const auto& entry : fs::directory_iterator(upgrade)) {
        const std::string name = entry.path().filename().string();
        const char* dir = name.ends_with(".TAL") ? "LIB" : name.ends_with(".DAT") ? "JOB" : name.ends_with(".SPC") ? "SYS" : nullptr;
        if (dir == nullptr || name[0] != 'F') continue;
        std::string a, b;
        zrx::ReadWholeFile(entry.path().string(), a);
        zrx::ReadWholeFile(suite + "/" + dir + "/" + name, b);
        differing += a == b ? 0 : 1;
    }
    if (differing != 0) std::fprintf(stderr, "%zu differ\n", differing);
}

// Writes back what an attempt's own preparation left in the page cache, like BestOfBoth() does for
// what earlier attempts left: the timed step then starts from an installation as it rests on a
// disk, and pays neither for writing back the copy it was handed (syncfs flushes a whole file
// system) nor gains from overwriting files that were never written out. Work and reference are
// prepared alike.
void SettlePreparation() { ::sync(); }

// A copy of an installation under another folder, its INI naming the copy's directories.
// (cp -a keeps the files' times, which decide whether the run replaces a file.)
void CopyInstallation(const std::string& from, const std::string& to) {
    fs::remove_all(to);
    Spawn({"cp", "-a", from, to}, false);
    WriteSuite(to);
    SettlePreparation();
}

// The reference's target when the installation already holds every element: the installed
// libraries under the names the reference copies into, and the installed files.
void PrepareReferenceTarget(const std::string& installed, const std::string& target) {
    fs::remove_all(target);
    fs::create_directories(target);
    for (const auto& [from, to] : kInstalledAndUpgradeLibraries) fs::copy_file(installed + "/" + from, target + "/" + to);
    std::vector<std::string> cp = {"cp", "-p"};
    for (const char* dir : {"LIB", "JOB", "SYS"})
        for (const auto& entry : fs::directory_iterator(installed + "/" + dir))
            if (entry.path().filename().string()[0] == 'F') cp.push_back(entry.path().string());
    cp.push_back(target);
    Spawn(cp, false);
    SettlePreparation();
}

// ---- Measurements in a process of their own ----------------------------------------------

int MeasureMain(char** argv) {
    const std::string what = argv[2];
    auto print = [](double seconds) {
        std::printf("%.6f\n", seconds);
        return 0;
    };
    if (what == "copy") {  // copy UPGRADE TARGET
        const auto start = Clock::now();
        CopyLikeTheStorage(argv[3], argv[4]);
        return print(Seconds(start));
    }
    if (what == "compare") {  // compare UPGRADE SUITE
        const auto start = Clock::now();
        CompareLikeTheStorage(argv[3], argv[4]);
        return print(Seconds(start));
    }
    if (what == "readfile") {  // readfile PATH
        const auto start = Clock::now();
        std::string content;
        zrx::ReadWholeFile(argv[3], content);
        return print(Seconds(start));
    }
    if (what == "selectnames") {  // selectnames LIBRARY
        const auto start = Clock::now();
        sqlite3* db = nullptr;
        sqlite3_open_v2(argv[3], &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db, "SELECT name FROM elements", -1, &stmt, nullptr);
        std::vector<std::string> names;
        while (sqlite3_step(stmt) == SQLITE_ROW)
            names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
        sqlite3_finalize(stmt);
        sqlite3_close(db);
        return print(Seconds(start));
    }
    if (what == "readwrite") {  // readwrite PATH
        const auto start = Clock::now();
        std::string content;
        zrx::ReadWholeFile(argv[3], content);
        auto out = zrx::TextOutput::Open(std::string(argv[3]) + ".copy");
        out->Write(content);
        out->Commit();
        return print(Seconds(start));
    }
    if (what == "index") {  // index PATH ENTRIES
        const int entries = std::atoi(argv[4]);
        const auto start = Clock::now();
        auto index = zrx::IndexFile::Load(argv[3], zrx::IndexFile::Kind::ModelIndex);
        for (int i = 0; i < entries; ++i) {
            const std::string library = "LIB" + std::to_string(i % 2 == 0 ? i % 1000 : 1000 + i % 500);
            index->Add("D||" + library + "|NEW" + std::to_string(i) + "|added model " + std::to_string(i), library);
        }
        index->Save();
        return print(Seconds(start));
    }
    // list SUITE FOLDER, or listing SUITE: the program's own handlers without a window.
    zrx::ui::ConsoleDialogs dialogs;
    zrx::ui::ConsoleFontCatalog fonts;
    zrx::App app(dialogs, fonts);
    app.commandLine = std::string("\"") + argv[3] + (what == "listing" ? ",TRELM\"" : "\"");
    zrx::ConnectHandlers(app);
    if (zrx::Form_Load(app) != zrx::StartupOutcome::Ready) return 2;
    if (what == "list") {
        app.window.main.F_lstdir.SetPath(argv[4]);
        const auto start = Clock::now();
        zrx::F_lstok_Click(app);
        const double seconds = Seconds(start);
        return app.window.main.F_Msg.Visible() ? print(seconds) : 2;
    }
    if (what == "listing") {
        zrx::ui::FileList& libraries = app.window.main.F_EDLlist;
        libraries.SetListIndex(0);
        const auto start = Clock::now();
        zrx::FillElementList(app, zrx::kParts);
        const double seconds = Seconds(start);
        return app.window.main.F_Devitem.ListCount() > 0 ? print(seconds) : 2;
    }
    return 2;
}

// How long the file system takes to make an empty file now, in microseconds. On ext4 without a
// journal a new file's inode is searched for past the inodes freed in the last minutes, so that
// the rows that make files run up to ten times slower after many files were deleted (by a test
// run, an earlier benchmark's clean-up): a figure far above ten says the table was measured so.
double MicrosecondsPerNewFile(const std::string& folder) {
    constexpr int kFiles = 200;
    fs::create_directories(folder);
    const auto start = Clock::now();
    for (int i = 0; i < kFiles; ++i) {
        const int fd = ::open((folder + "/" + std::to_string(i)).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) ::close(fd);
    }
    return Seconds(start) * 1e6 / kFiles;
}

// ---- The table ----------------------------------------------------------------------------

struct Row {
    std::string name;
    double target;
    std::function<void(double scale)> prepare;
    std::function<Run(double scale, int attempt)> work;       // fresh output folders per attempt
    std::function<Run(double scale, int attempt)> reference;
    std::function<double(double scale)> dataMb;
};

constexpr int kAttempts = 7, kMostAttempts = 25;
constexpr double kAttemptSeconds = 1.0;

// A row's work and its reference, each the best of its attempts, with how steady they were.
struct Pair {
    Run work, reference;
    double spread = 0;  // how far the attempts' ratios lie apart: their interquartile range over their median
};

// The best of several runs of the work and of its reference, taken in turns: timings on a shared
// machine only ever come out slower than they are, and what slows the machine for a while (the
// disk writing back, another program) then slows both alike. Short runs are repeated more often
// (up to a second of runs), as their noise is the larger part.
Pair BestOfBoth(const std::function<Run(int)>& work, const std::function<Run(int)>& reference, int attempts) {
    Pair best;
    std::vector<double> ratios;
    const auto start = Clock::now();
    auto keep = [](Run& kept, const Run& r, bool first) {
        const double peak = std::max(kept.peakMb, r.peakMb);
        const int status = kept.status != 0 && !first ? kept.status : r.status;
        if (first || r.seconds < kept.seconds) kept = r;
        kept.peakMb = peak;
        kept.status = status;
    };
    for (int attempt = 0; attempt < attempts || (attempt < kMostAttempts && Seconds(start) < kAttemptSeconds);
         ++attempt) {
        // Writing back what earlier runs left in the page cache is not this run's work.
        ::sync();
        const Run w = work(attempt);
        ::sync();
        const Run r = reference(attempt);
        keep(best.work, w, attempt == 0);
        keep(best.reference, r, attempt == 0);
        if (r.seconds > 0) ratios.push_back(w.seconds / r.seconds);
    }
    if (!ratios.empty()) {
        std::sort(ratios.begin(), ratios.end());
        const size_t n = ratios.size();
        best.spread = (ratios[(3 * n) / 4 < n ? (3 * n) / 4 : n - 1] - ratios[n / 4]) / ratios[n / 2];
    }
    return best;
}

// The sizes each row runs at: a near-empty run (a ten-thousandth of the work) that shows what the
// program costs whatever the size, a smaller size and the full one (a quarter and the table's
// size; or, with --large, the table's size and ten times it). Time that grows linearly is a fixed
// part plus a part proportional to the work, so the growth factor is taken over the time above
// the near-empty run: four times the work gives four times that time. The memory above the
// near-empty run is likewise what the data costs, apart from the few megabytes any process starts
// with.
constexpr double kEmptyScale = 1e-4;

struct Sizes {
    double small, full;
    int attempts;
};
constexpr Sizes kTableSizes{0.25, 1.0, kAttempts};
constexpr Sizes kLargeSizes{1.0, 10.0, 3};

// Prints a row that has no sizes of its own: its time beside its reference's.
void PrintRatioRow(const std::string& name, double seconds, double refSeconds, double target, const std::string& notes = {}) {
    const double ratio = seconds / refSeconds;
    std::printf("%-46s %7.3f %7.3f %5.1f %6.2f  %s%s\n", name.c_str(), seconds, refSeconds, ratio, target,
                ratio > target ? "over target; " : "", notes.c_str());
    std::fflush(stdout);
}

// Whether a row's name holds one of the comma-separated words of `words` (all rows for none).
bool Chosen(const char* words, const std::string& name) {
    if (words == nullptr || *words == '\0') return true;
    const std::string all = words;
    for (size_t start = 0; start <= all.size();) {
        const size_t end = std::min(all.find(',', start), all.size());
        if (end > start && name.find(all.substr(start, end - start)) != std::string::npos) return true;
        start = end + 1;
    }
    return false;
}

// The time of each row at full size, by name. `only` chooses the rows that are timed (see
// Chosen); the others still prepare and run once, as later rows start from what they leave.
// Long: one table row per measured row, with the columns the README explains
std::map<std::string, double> PrintTable(const std::vector<Row>& rows, const Sizes& sizes, const char* only) {
    std::map<std::string, double> fullSeconds;
    const double factor = sizes.full / sizes.small;
    std::printf("%-46s %7s %7s %5s %6s %7s %7s %6s %6s %6s %7s %7s %7s %7s %6s  %s\n", "row (full size)", "seconds",
                "ref s", "ratio", "target", factor > 5 ? "1/10 s" : "1/4 s", "empty s", "growth", "(raw)", "(ref)",
                "peak MB", "net MB", "ref MB", "data MB", "spread", "notes");
    auto growthOf = [](const double (&seconds)[3]) { return (seconds[2] - seconds[0]) / (seconds[1] - seconds[0]); };
    for (const Row& row : rows) {
        if (!Chosen(only, row.name)) {
            for (const double scale : {kEmptyScale, sizes.small, sizes.full}) {
                row.prepare(scale);
                fullSeconds[row.name] = row.work(scale, 0).seconds;
            }
            continue;
        }
        double seconds[3], refSeconds[3], peak[3];
        Run fullRef;
        int status = 0;
        double spread = 0;
        for (const int size : {0, 1, 2}) {
            const double scale = size == 0 ? kEmptyScale : size == 1 ? sizes.small : sizes.full;
            row.prepare(scale);
            const Pair pair = BestOfBoth([&](int attempt) { return row.work(scale, attempt); },
                                         [&](int attempt) { return row.reference(scale, attempt); }, sizes.attempts);
            seconds[size] = pair.work.seconds;
            refSeconds[size] = pair.reference.seconds;
            peak[size] = pair.work.peakMb;
            status |= pair.work.status | pair.reference.status;
            if (size == 2) fullRef = pair.reference, spread = pair.spread;
        }
        const double ratio = seconds[2] / refSeconds[2];
        fullSeconds[row.name] = seconds[2];
        const double growth = growthOf(seconds), refGrowth = growthOf(refSeconds);
        const double rawGrowth = seconds[2] / seconds[1];
        const double netMb = peak[2] - peak[0];
        const double data = row.dataMb(sizes.full);
        std::string notes;
        if (status != 0) notes += "FAILED; ";
        if (ratio > row.target) notes += "over target; ";
        // Linear within an eighth either way: 3.5 to 4.5 for four times the work.
        if (growth < factor * 0.875 || growth > factor * 1.125)
            notes += "growth outside " + std::to_string(factor * 0.875).substr(0, 4) + "-" +
                     std::to_string(factor * 1.125).substr(0, 4) + "; ";
        if (netMb > 2 * data) notes += "memory over twice the data; ";
        std::printf("%-46s %7.3f %7.3f %5.1f %6.2f %7.3f %7.3f %6.2f %6.2f %6.2f %7.1f %7.1f %7.1f %7.1f %5.0f%%  %s\n",
                    row.name.c_str(), seconds[2], refSeconds[2], ratio, row.target, seconds[1], seconds[0], growth,
                    rawGrowth, refGrowth, peak[2], netMb, fullRef.peakMb, data, spread * 100, notes.c_str());
        std::fflush(stdout);
    }
    return fullSeconds;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "measure") return MeasureMain(argv);
    const bool large = argc >= 2 && std::string(argv[1]) == "--large";
    const std::string root = (fs::temp_directory_path() / ("zrx-bench-" + std::to_string(::getpid()))).string();
    const std::string cli = BinDir() + "/zrxlibug-cli";
    std::map<double, std::vector<std::string>> buildArgs;
    std::string base = root;  // the generated folders of the table (--large: of its own table)
    auto dir = [&base](const char* what, double scale) {
        return base + "/" + what +
               (scale == kEmptyScale ? "-empty" : scale < 1 ? "-quarter" : scale > 1 ? "-large" : "-full");
    };

    std::vector<Row> rows;
    auto attemptDir = [&dir](const char* what, double scale, int attempt) {
        return dir(what, scale) + "-" + std::to_string(attempt);
    };
    rows.push_back({"build 28,000 elements and 1,000 files (cli)", 2.5,
                    [&](double scale) { buildArgs[scale] = GenerateInstallation(dir("suite", scale), CountsFor(scale)); },
                    [&](double scale, int attempt) {
                        if (scale > 1) {  // only for the rows after it (--large): see WriteUpgradeOf
                            WriteUpgradeOf(dir("suite", scale), CountsFor(scale), attemptDir("upgrade", scale, attempt));
                            return Run{0, 0, {}, 0};
                        }
                        std::vector<std::string> args = {cli, "build", "--suite", dir("suite", scale), "--dest",
                                                         attemptDir("upgrade", scale, attempt)};
                        args.insert(args.end(), buildArgs[scale].begin(), buildArgs[scale].end());
                        return Spawn(args, false);
                    },
                    [&](double scale, int attempt) {
                        return Measure({"copy", attemptDir("upgrade", scale, 0), attemptDir("buildref", scale, attempt)});
                    },
                    [&](double scale) { return MegaBytes({attemptDir("upgrade", scale, 0)}); }});
    // The installation the upgrade is applied to holds every element and file in an older
    // variant, so that the run replaces (and records) all of them.
    rows.push_back({"apply 28,000 elements and 1,000 files (cli)", 2.5,
                    [&](double scale) { GenerateInstallation(dir("installed", scale), CountsFor(scale), true); },
                    [&](double scale, int attempt) {
                        const std::string target = attemptDir("target", scale, attempt);
                        CopyInstallation(dir("installed", scale), target);
                        return Spawn({cli, "apply", "--suite", target, "--yes", attemptDir("upgrade", scale, 0)}, false);
                    },
                    [&](double scale, int attempt) {
                        PrepareReferenceTarget(dir("installed", scale), attemptDir("applyref", scale, attempt));
                        return Measure({"copy", attemptDir("upgrade", scale, 0), attemptDir("applyref", scale, attempt)});
                    },
                    [&](double scale) { return MegaBytes({attemptDir("upgrade", scale, 0)}); }});
    rows.push_back({"rollback of that apply (cli)", 2.5, [](double) {},
                    [&](double scale, int attempt) {
                        const std::string target = attemptDir("rolled", scale, attempt);
                        CopyInstallation(dir("installed", scale), target);
                        Spawn({cli, "apply", "--suite", target, "--yes", attemptDir("upgrade", scale, 0)}, false);
                        SettlePreparation();
                        return Spawn({cli, "rollback", "--suite", target}, false);
                    },
                    [&](double scale, int attempt) {
                        PrepareReferenceTarget(dir("installed", scale), attemptDir("rollref", scale, attempt));
                        return Measure({"copy", attemptDir("upgrade", scale, 0), attemptDir("rollref", scale, attempt)});
                    },
                    [&](double scale) { return MegaBytes({attemptDir("upgrade", scale, 0)}); }});
    rows.push_back({"diff 28,000 elements and 1,000 files, all installed", 1.0, [](double) {},
                    [&](double scale, int) {
                        // The installation the apply row left, which holds every element.
                        return Spawn({cli, "diff", "--suite", attemptDir("target", scale, 0), attemptDir("upgrade", scale, 0)},
                                     false);
                    },
                    [&](double scale, int) {
                        return Measure({"compare", attemptDir("upgrade", scale, 0), attemptDir("target", scale, 0)});
                    },
                    [&](double scale) { return 2 * MegaBytes({attemptDir("upgrade", scale, 0)}); }});
    // The installation the apply row left, every element and file edited here since (its second
    // text, its last line), and an upgrade built from the older installation (their first text
    // and line): the detail of every row and a merge of every row.
    rows.push_back(
        {"diff --detail, every element edited, against diff", 3,
         [&](double scale) {
             CopyInstallation(attemptDir("target", scale, 0), dir("edited", scale));
             std::string models;
             for (const auto& name : Names("SMOD", CountsFor(scale).sparams)) models += name + "\n";
             for (const auto& name : Names("MMOD", CountsFor(scale).mparams)) models += name + "\n";
             WriteText(dir("models", scale) + ".txt", models);
             GenerateInstallation(dir("edited", scale), CountsFor(scale), false, true);
             std::vector<std::string> args = {
                 cli, "build", "--suite", dir("installed", scale), "--dest", dir("upgrade-older", scale)};
             args.insert(args.end(), buildArgs[scale].begin(), buildArgs[scale].end());
             fs::remove_all(dir("upgrade-older", scale));
             Spawn(args, false);
             // Its files as new as the edited ones: an apply without the merge replaces them all, as the
             // merge does, and not refuses them for their age.
             for (const auto& entry : fs::directory_iterator(dir("upgrade-older", scale)))
                 if (entry.is_regular_file())
                     fs::last_write_time(entry.path(), fs::file_time_type::clock::now());
             SettlePreparation();
         },
         // Both exit 1 (every row differs): that is their success here.
         [&](double scale, int) {
             return Spawn({"sh", "-c", "\"$@\"; test $? -eq 1", "sh", cli, "diff", "--suite",
                           dir("edited", scale), "--detail", dir("upgrade-older", scale)},
                          false);
         },
         [&](double scale, int) {
             return Spawn({"sh", "-c", "\"$@\"; test $? -eq 1", "sh", cli, "diff", "--suite",
                           dir("edited", scale), dir("upgrade-older", scale)},
                          false);
         },
         [&](double scale) { return 2 * MegaBytes({dir("upgrade-older", scale)}); }});
    rows.push_back({"apply --merge, every element edited, against apply", 3, [](double) {},
                    [&](double scale, int attempt) {
                        const std::string target = attemptDir("merged", scale, attempt);
                        CopyInstallation(dir("edited", scale), target);
                        // Models are not merged (a run leaves edited ones as they are): they are left out.
                        return Spawn({cli, "apply", "--suite", target, "--yes", "--merge", "--skip-from",
                                      dir("models", scale) + ".txt", dir("upgrade-older", scale)},
                                     false);
                    },
                    [&](double scale, int attempt) {
                        // The same apply without the merge: the upgrade's elements and files replace the
                        // edited ones.
                        const std::string target = attemptDir("unmerged", scale, attempt);
                        CopyInstallation(dir("edited", scale), target);
                        return Spawn({cli, "apply", "--suite", target, "--yes", "--skip-from",
                                      dir("models", scale) + ".txt", dir("upgrade-older", scale)},
                                     false);
                    },
                    [&](double scale) { return MegaBytes({dir("upgrade-older", scale)}); }});
    // The build's manifest, checked as loading checks it, beside sha256sum checking it.
    rows.push_back({"verify that upgrade (cli) against sha256sum -c", 1.0, [](double) {},
                    [&](double scale, int) { return Spawn({cli, "verify", attemptDir("upgrade", scale, 0)}, false); },
                    [&](double scale, int) {
                        return Spawn({"sh", "-c", "cd \"$0\" && exec sha256sum --quiet -c Upgrade.sha256",
                                      attemptDir("upgrade", scale, 0)},
                                     false);
                    },
                    [&](double scale) { return MegaBytes({attemptDir("upgrade", scale, 0)}); }});
    // The same upgrade as one zip file, unpacked under the rules and checked, beside unzip alone.
    rows.push_back({"open a zip of that upgrade (cli verify) against unzip", 1.5,
                    [&](double scale) {
                        Spawn({"sh", "-c", "cd \"$0\" && exec zip -qr \"$1\" .", attemptDir("upgrade", scale, 0),
                               dir("zip", scale) + ".zip"},
                              false);
                    },
                    [&](double scale, int) { return Spawn({cli, "verify", dir("zip", scale) + ".zip"}, false); },
                    [&](double scale, int attempt) {
                        return Spawn({"unzip", "-q", "-o", dir("zip", scale) + ".zip", "-d", attemptDir("unzipped", scale, attempt)},
                                     false);
                    },
                    // What it moves is what it unpacks (the upgrade), not the compressed file.
                    [&](double scale) { return MegaBytes({attemptDir("upgrade", scale, 0)}); }});
    rows.push_back({"load a list of 100,000 records and fill the grid", 4,
                    [&](double scale) {
                        const int records = static_cast<int>(std::lround(100000 * scale));
                        const std::string folder = dir("list", scale);
                        fs::create_directories(folder);
                        std::string list = "0,Upgrade.PART,A_Upg.SYMBOL,I_Upg.SYMBOL,Upgrade.PACKAGE,Upgrade.SPARAM,Upgrade.MPARAM\r\n";
                        for (int i = 0; i < records; ++i)
                            list += (i % 2 ? "1,0,1,PART" : "2,0,1,SYM") + std::to_string(100000 + i) +
                                    (i % 2 ? ",Logic.PART\r\n" : ",Logic.SYMBOL,A_Upg.SYMBOL\r\n");
                        WriteText(folder + "/Upgrade.lst", list + "99,END\r\n");
                    },
                    [&](double scale, int) { return Measure({"list", dir("suite", scale), dir("list", scale)}); },
                    [&](double scale, int) { return Measure({"readfile", dir("list", scale) + "/Upgrade.lst"}); },
                    [&](double scale) { return MegaBytes({dir("list", scale) + "/Upgrade.lst"}); }});
    rows.push_back({"list a library of 100,000 elements", 1.3,
                    [&](double scale) {
                        const std::string suite = dir("listing", scale);
                        WriteSuite(suite);
                        WriteLibrary(suite + "/LIB/Big.PART", true, Names("P", static_cast<int>(std::lround(100000 * scale))));
                    },
                    [&](double scale, int) { return Measure({"listing", dir("listing", scale)}); },
                    [&](double scale, int) { return Measure({"selectnames", dir("listing", scale) + "/LIB/Big.PART"}); },
                    [&](double scale) { return MegaBytes({dir("listing", scale) + "/LIB/Big.PART"}); }});
    rows.push_back({"add 10,000 entries to modpar.idx of 100,000", 2.5,
                    [&](double scale) {
                        const std::string folder = dir("index", scale);
                        fs::create_directories(folder);
                        std::ofstream out(folder + "/original.idx", std::ios::binary);
                        for (int i = 0; i < static_cast<int>(std::lround(100000 * scale)); ++i)
                            out << "NPN||LIB" << (i % 1000) << "|Q" << i << "|general purpose transistor model\r\n";
                    },
                    [&](double scale, int attempt) {
                        const std::string folder = dir("index", scale), path = folder + "/modpar" + std::to_string(attempt) + ".idx";
                        fs::copy_file(folder + "/original.idx", path, fs::copy_options::overwrite_existing);
                        return Measure({"index", path, std::to_string(std::max(1L, std::lround(10000 * scale)))});
                    },
                    [&](double scale, int) { return Measure({"readwrite", dir("index", scale) + "/original.idx"}); },
                    [&](double scale) { return MegaBytes({dir("index", scale) + "/original.idx"}); }});

    std::printf("zrxlibug benchmarks (release build); each row measured beside its reference in this run\n");
    std::printf("a new file takes %.0f us on this file system now\n\n", MicrosecondsPerNewFile(root + "/probe"));
    const std::map<std::string, double> fullSeconds = PrintTable(rows, kTableSizes, std::getenv("ZRX_BENCH_ROWS"));

    // The undo record of the apply row's run beside what that run replaced (the older elements and
    // files; a file kept by a second link counts with its whole size).
    {
        const std::string installed = dir("installed", 1.0), target = attemptDir("target", 1.0, 0);
        // What the run installed, kept for later merges, is counted apart (beside the upgrade).
        const double bases = MegaBytes({target + "/.zrxlibug/history/bases"});
        const double record = MegaBytes({target + "/.zrxlibug/history"}) - bases;
        double replaced = MegaBytes({installed + "/LIB/Gen.PART", installed + "/LIB/Gen.SYMBOL", installed + "/LIB/Gen.PACKAGE",
                                     installed + "/ZSM_MOD/Gen.SPARAM", installed + "/LIB/Gen.MPARAM"});
        for (const char* sub : {"LIB", "JOB", "SYS"})
            for (const auto& entry : fs::directory_iterator(installed + "/" + sub))
                if (entry.path().filename().string()[0] == 'F') replaced += MegaBytes({entry.path().string()});
        std::printf("%-46s %7.1f MB for %.1f MB replaced: %.2f times (target at most 1.1)%s\n",
                    "undo record of the apply run", record, replaced, record / replaced,
                    record / replaced > 1.1 ? "  over target" : "");
        std::printf("%-46s %7.1f MB for %.1f MB replaced: %.2f times (target at most 1.1)%s\n",
                    "the same with what it kept for merges", record + bases, replaced, (record + bases) / replaced,
                    (record + bases) / replaced > 1.1 ? "  over target" : "");
    }

    // The window with the list row's list, in Qt Test benchmarks, each beside the load row's time.
    const std::string loadRow = "load a list of 100,000 records and fill the grid";
    if (fs::exists(BinDir() + "/zrx_window_bench") && fullSeconds.count(loadRow) != 0) {
        ::setenv("ZRX_BENCH_SUITE", dir("suite", 1.0).c_str(), 1);
        ::setenv("ZRX_BENCH_LIST", dir("list", 1.0).c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        const Run window = Spawn({BinDir() + "/zrx_window_bench"}, true);
        ::unsetenv("QT_QPA_PLATFORM");  // the start below is timed on a real X server
        // "RESULT : WindowBench::gridShownAfterOk():" followed by "  14 msecs per iteration ...".
        const struct {
            const char* function;
            const char* name;
            double target;
        } results[] = {{"gridShownAfterOk", "window: grid shown after OK", 1.5},
                       {"scrolledFromTopToBottom", "window: grid scrolled from top to bottom", 5},
                       {"updateColumnFlippedByOneDrag", "window: Update column flipped by one drag", 1.5}};
        for (const auto& [function, name, target] : results) {
            const size_t at = window.output.find(std::string("RESULT : WindowBench::") + function);
            const size_t number = at == std::string::npos ? at : window.output.find('\n', at);
            if (window.status != 0 || number == std::string::npos) {
                std::printf("%-46s   FAILED (zrx_window_bench exit %d)\n", name, window.status);
                continue;
            }
            const double ms = std::strtod(window.output.c_str() + number + 1, nullptr);
            PrintRatioRow(name, ms / 1000.0, fullSeconds.at(loadRow), target, "reference: the load row");
        }
    }

    // The start of the window, from the program's start to its first shown window, beside that of
    // a bare Qt program that shows one empty window: both started alternately on one X server,
    // nine times each; the medians.
    if (std::system("command -v xvfb-run >/dev/null && command -v xdotool >/dev/null") == 0 &&
        fs::exists(BinDir() + "/zrx_bare_window")) {
        const std::string script =
            "sleep 0.3; measure() { name=$1; shift; start=$(date +%s%N); \"$@\" >/dev/null 2>&1 & pid=$!; "
            "tries=0; until xdotool search --onlyvisible --name \"$name\" >/dev/null 2>&1; do "
            "tries=$((tries+1)); [ $tries -gt 5000 ] && break; sleep 0.001; done; end=$(date +%s%N); "
            "kill -9 $pid; wait $pid 2>/dev/null; echo \"$name $(( (end - start) / 1000 ))\"; sleep 0.2; }; "
            "for i in 1 2 3 4 5 6 7 8 9; do measure 'zrx bare window' '" + BinDir() + "/zrx_bare_window'; "
            "measure 'Zarnix Library Upgrade Utility' '" + BinDir() + "/zrxlibug' '" + dir("suite", 0.25) + "'; done";
        const Run start = Spawn({"xvfb-run", "-a", "sh", "-c", script}, true);
        std::vector<double> bare, program;
        std::istringstream lines(start.output);
        for (std::string line; std::getline(lines, line);) {
            const size_t space = line.rfind(' ');
            if (space == std::string::npos) continue;
            const double seconds = std::strtod(line.c_str() + space + 1, nullptr) / 1e6;
            (line.rfind("zrx bare window", 0) == 0 ? bare : program).push_back(seconds);
        }
        auto median = [](std::vector<double> values) {
            std::sort(values.begin(), values.end());
            return values.empty() ? 0.0 : values[values.size() / 2];
        };
        if (bare.empty() || program.empty())
            std::printf("%-46s   FAILED\n", "start of zrxlibug to its first window");
        else
            PrintRatioRow("start of zrxlibug to its first window", median(program), median(bare), 1.15,
                          "reference: a bare Qt window");
    } else {
        std::printf("%-46s   skipped: xvfb-run and xdotool are needed\n", "start of zrxlibug to its first window");
    }
    // --large: apply, rollback, diff and the zip at ten times the table's size (280,000 elements,
    // 10,000 files) beside the table's size, in generated folders of their own; the rows before
    // them that they start from run once, untimed.
    if (large) {
        base = root + "/large";
        fs::create_directories(base);
        std::vector<Row> largeRows;
        for (const Row& row : rows)
            if (Chosen("build,apply 28,rollback,diff 28,zip", row.name)) largeRows.push_back(row);
        std::printf("\nten times the size (280,000 elements and 10,000 files), beside the table's size\n");
        PrintTable(largeRows, kLargeSizes, "apply 28,rollback,diff 28,zip");
    }
    std::printf("a new file takes %.0f us on this file system at the end\n", MicrosecondsPerNewFile(root + "/probe-end"));
    // ZRX_BENCH_KEEP leaves the generated folders for a profiler.
    if (std::getenv("ZRX_BENCH_KEEP") != nullptr) std::printf("kept: %s\n", root.c_str());
    else fs::remove_all(root);
    return 0;
}
