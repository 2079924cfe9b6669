#include "platform/VersionInfo.h"
#include "platform/FileUtil.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

// This test program carries a version of its own, as the program does.
PELLORA_STAMP_VERSION("9.8.7-test");

namespace pellora {
namespace {

using test::PutFile;
using test::TempDir;

TEST(VersionInfo, TheStampIsReadBackFromTheExecutableFile) {
    EXPECT_EQ(ProgramVersion(), "9.8.7-test");
    TempDir dir;
    const std::string copy = dir / "copy";
    const std::string bytes = ReadFileBytes("/proc/self/exe");
    PutFile(copy, bytes);
    EXPECT_EQ(ReadVersionInfo(copy), "9.8.7-test");
}

TEST(VersionInfo, AFileWithoutAStampGivesAQuestionMark) {
    TempDir dir;
    const std::string bytes = ReadFileBytes("/proc/self/exe");
    const std::string name = VersionSectionName;

    // The same program with its stamp section renamed (the name's other copies with it).
    std::string renamed = bytes;
    int renames = 0;
    for (std::size_t at = renamed.find(name + '\0'); at != std::string::npos;
         at = renamed.find(name + '\0', at + 1), ++renames)
        renamed[at + name.size() - 1] = 'X';
    ASSERT_GT(renames, 0);
    PutFile(dir / "renamed", renamed);
    EXPECT_EQ(ReadVersionInfo(dir / "renamed"), "?");

    // Cut short before its section table, not a program at all, or missing.
    PutFile(dir / "cut", bytes.substr(0, 4096));
    EXPECT_EQ(ReadVersionInfo(dir / "cut"), "?");
    PutFile(dir / "text", "3.0.0\n");
    EXPECT_EQ(ReadVersionInfo(dir / "text"), "?");
    EXPECT_EQ(ReadVersionInfo(dir / "missing"), "?");
}

} // namespace
} // namespace pellora
