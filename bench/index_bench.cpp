// Adds N model entries to a modpar.idx of M lines, and, in the same run, reads and writes the
// same file once; prints both and the ratio.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "apply/index_files.h"
#include "base/text_file.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

static double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

int main(int argc, char** argv) {
    const int lines = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int entries = argc > 2 ? std::atoi(argv[2]) : 10000;
    const std::string dir = (fs::temp_directory_path() / ("zrx-index-bench-" + std::to_string(::getpid()))).string();
    fs::create_directories(dir);
    const std::string path = dir + "/modpar.idx";
    {
        std::ofstream out(path, std::ios::binary);
        for (int i = 0; i < lines; ++i)
            out << "NPN||LIB" << (i % 1000) << "|Q" << i << "|general purpose transistor model " << i << "\r\n";
    }
    const std::string original = [&] {
        std::string text;
        zrx::ReadWholeFile(path, text);
        return text;
    }();

    // The reference: one whole read and one whole write of the same file.
    auto start = Clock::now();
    std::string content;
    zrx::ReadWholeFile(path, content);
    {
        auto out = zrx::TextOutput::Open(dir + "/copy.idx");
        out->Write(content);
        out->Commit();
    }
    const double plain = Seconds(start);

    start = Clock::now();
    auto index = zrx::IndexFile::Load(path, zrx::IndexFile::Kind::ModelIndex);
    for (int i = 0; i < entries; ++i) {
        const std::string library = "LIB" + std::to_string(i % 2 == 0 ? i % 1000 : 1000 + i % 500);
        index->Add("D||" + library + "|NEW" + std::to_string(i) + "|added model " + std::to_string(i), library);
    }
    index->Save();
    const double added = Seconds(start);

    const double ratio = added / plain;
    std::printf("%-52s %9s %9s %7s\n", "", "seconds", "read+write", "ratio");
    std::printf("%-52s %9.3f %9.3f %7.1f %s\n",
                ("add " + std::to_string(entries) + " entries to modpar.idx of " + std::to_string(lines) + " lines").c_str(),
                added, plain, ratio, ratio > 10 ? "over target (10)" : "");
    fs::remove_all(dir);
    return 0;
}
