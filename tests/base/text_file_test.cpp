#include "base/text_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <vector>

#include "support/temp_dir.h"

namespace zrx {
namespace {

std::vector<std::string> ReadAll(const std::string& path) {
    std::vector<std::string> lines;
    auto in = TextInput::Open(path);
    if (!in) return {"<cannot open>"};
    std::string line;
    while (in->ReadLine(line)) lines.push_back(line);
    return lines;
}

using Lines = std::vector<std::string>;

TEST(TextInputTest, AcceptsEveryLineEnd) {
    test::TempDir dir;
    test::WriteFile(dir / "crlf", "a\r\nb\r\n");
    test::WriteFile(dir / "lf", "a\nb\n");
    test::WriteFile(dir / "cr", "a\rb\r");
    test::WriteFile(dir / "mixed", "a\r\n\nb");
    EXPECT_EQ(ReadAll(dir / "crlf"), (Lines{"a", "b"}));
    EXPECT_EQ(ReadAll(dir / "lf"), (Lines{"a", "b"}));
    EXPECT_EQ(ReadAll(dir / "cr"), (Lines{"a", "b"}));
    EXPECT_EQ(ReadAll(dir / "mixed"), (Lines{"a", "", "b"}));
}

TEST(TextInputTest, ReadingPastTheLastLineFails) {
    test::TempDir dir;
    test::WriteFile(dir / "one", "only");
    auto in = TextInput::Open(dir / "one");
    ASSERT_TRUE(in);
    std::string line;
    EXPECT_TRUE(in->ReadLine(line));
    EXPECT_EQ(line, "only");
    EXPECT_FALSE(in->ReadLine(line));
    EXPECT_FALSE(in->ReadLine(line));
    EXPECT_FALSE(in->LineTooLong());
}

TEST(TextInputTest, AnEmptyFileHasNoLines) {
    test::TempDir dir;
    test::WriteFile(dir / "empty", "");
    EXPECT_EQ(ReadAll(dir / "empty"), Lines{});
}

TEST(TextInputTest, CrLfSplitAcrossTheReadBufferIsOneLineEnd) {
    test::TempDir dir;
    std::string content(65535, 'x');
    content += "\r\nnext\r\n";
    test::WriteFile(dir / "big", content);
    const Lines lines = ReadAll(dir / "big");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size(), 65535u);
    EXPECT_EQ(lines[1], "next");
}

TEST(TextInputTest, RefusesMissingFilesAndDirectories) {
    test::TempDir dir;
    EXPECT_FALSE(TextInput::Open(dir / "missing"));
    EXPECT_FALSE(TextInput::Open(dir.Path()));
}

TEST(TextInputTest, AnOverlongLineEndsTheReadAsAFailure) {
    test::TempDir dir;
    test::WriteFile(dir / "long", "first\n" + std::string(kMaxLineLength + 1, 'y') + "\nlast\n");
    auto in = TextInput::Open(dir / "long");
    ASSERT_TRUE(in);
    std::string line;
    EXPECT_TRUE(in->ReadLine(line));
    EXPECT_FALSE(in->ReadLine(line));
    EXPECT_TRUE(in->LineTooLong());
    // A line of exactly the longest length is read whole, ended by CR LF, LF or the file's end.
    for (const char* end : {"\r\n", "\n", ""}) {
        test::WriteFile(dir / "longest", std::string(kMaxLineLength, 'z') + end);
        auto longest = TextInput::Open(dir / "longest");
        ASSERT_TRUE(longest);
        EXPECT_TRUE(longest->ReadLine(line)) << end;
        EXPECT_EQ(line.size(), kMaxLineLength);
        EXPECT_FALSE(longest->ReadLine(line));
        EXPECT_FALSE(longest->LineTooLong());
    }
}

// A FIFO or device is never read as a text file: its read could wait forever.
TEST(TextInputTest, OnlyARegularFileIsOpened) {
    test::TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    EXPECT_FALSE(TextInput::Open(dir / "pipe"));
    EXPECT_FALSE(TextInput::Open("/dev/zero"));
    std::string content;
    EXPECT_FALSE(ReadWholeFile("/dev/zero", content, 4096));
}

TEST(TextOutputTest, ReplacesTheFileWholeOnCommit) {
    test::TempDir dir;
    test::WriteFile(dir / "out.txt", "old content");
    ::chmod((dir / "out.txt").c_str(), 0640);
    {
        auto out = TextOutput::Open(dir / "out.txt");
        ASSERT_TRUE(out);
        out->WriteLine("one");
        out->WriteLine("two");
        EXPECT_EQ(test::ReadFile(dir / "out.txt"), "old content");  // untouched until the commit
        EXPECT_TRUE(out->Commit());
    }
    EXPECT_EQ(test::ReadFile(dir / "out.txt"), "one\r\ntwo\r\n");
    struct stat info {};
    ::stat((dir / "out.txt").c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST(TextOutputTest, WithoutCommitTheOldFileStaysAndNoTemporaryIsLeft) {
    test::TempDir dir;
    test::WriteFile(dir / "keep.txt", "precious");
    {
        auto out = TextOutput::Open(dir / "keep.txt");
        out->WriteLine("half");
    }
    EXPECT_EQ(test::ReadFile(dir / "keep.txt"), "precious");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST(TextOutputTest, CannotOpenInAMissingDirectory) {
    test::TempDir dir;
    EXPECT_FALSE(TextOutput::Open(dir / "no/such/file"));
    EXPECT_FALSE(TextOutput::Open(dir.Path()));
}

TEST(TextOutputTest, LargeAndSmallWritesKeepTheirOrder) {
    test::TempDir dir;
    const std::string large(200000, 'x');
    auto out = TextOutput::Open(dir / "mixed.txt");
    ASSERT_TRUE(out);
    out->Write("head ");
    out->Write(large);
    out->WriteLine(" tail");
    ASSERT_TRUE(out->Commit());
    EXPECT_EQ(test::ReadFile(dir / "mixed.txt"), "head " + large + " tail\r\n");
}

TEST(ReadWholeFileTest, ReadsEveryByteAndRefusesWhatIsNoFile) {
    test::TempDir dir;
    std::string binary(100001, '\0');
    for (size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i * 7);
    test::WriteFile(dir / "data.bin", binary);
    test::WriteFile(dir / "empty.txt", "");
    std::string content = "stale";
    EXPECT_TRUE(ReadWholeFile(dir / "data.bin", content));
    EXPECT_EQ(content, binary);
    EXPECT_TRUE(ReadWholeFile(dir / "empty.txt", content));
    EXPECT_EQ(content, "");
    EXPECT_FALSE(ReadWholeFile(dir / "missing.txt", content));
    EXPECT_FALSE(ReadWholeFile(dir.Path(), content));
}

}  // namespace
}  // namespace zrx
