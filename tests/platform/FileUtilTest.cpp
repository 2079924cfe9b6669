#include "platform/FileUtil.h"
#include "platform/Errors.h"
#include "support/TempDir.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace pellora;
using pellora::test::GetFile;
using pellora::test::PutFile;
using pellora::test::TempDir;

TEST(TextLines, ReadsCrLfLfAndCrAndWritesCrLfAfterEveryLine) {
    EXPECT_EQ(SplitTextLines("a\r\nb\nc\rd"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitTextLines("a\r\n\r\nb\r\n"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(SplitTextLines("\n\r"), (std::vector<std::string>{"", ""}));
    EXPECT_TRUE(SplitTextLines("").empty());
    EXPECT_EQ(JoinTextLines({"a", "", "b"}), "a\r\n\r\nb\r\n");
    EXPECT_EQ(JoinTextLines({}), "");

    TempDir dir;
    PutFile(dir / "in.txt", "one\rtwo\nthree");
    CopyTextFile(dir / "in.txt", dir / "deep/out.txt");
    EXPECT_EQ(GetFile(dir / "deep/out.txt"), "one\r\ntwo\r\nthree\r\n");
}

TEST(TextLines, BytesOfAnyEncodingPassThroughUnchanged) {
    TempDir dir;
    std::string latin1 = "caf\xE9 \xFF\x01";
    WriteTextLines(dir / "x.txt", {latin1, std::string("nul\0inside", 10)});
    auto lines = ReadTextLines(dir / "x.txt");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], latin1);
    EXPECT_EQ(lines[1], std::string("nul\0inside", 10));
}

TEST(AtomicWriteFile, ReplacesTheWholeFileKeepsItsModeAndLeavesNoTemporaryFile) {
    TempDir dir;
    PutFile(dir / "f.dat", "old content that is longer");
    ::chmod((dir / "f.dat").c_str(), 0640);
    AtomicWriteFile(dir / "f.dat", "new");
    EXPECT_EQ(GetFile(dir / "f.dat"), "new");
    struct stat st {};
    ASSERT_EQ(::stat((dir / "f.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(ListFolder(dir.Path()), std::vector<std::string>{"f.dat"});
}

TEST(AtomicWriteFile, ALinkIsFollowedAndStaysALink) {
    TempDir dir;
    PutFile(dir / "real/target.ini", "old");
    ASSERT_EQ(::symlink((dir / "real/target.ini").c_str(), (dir / "link.ini").c_str()), 0);
    AtomicWriteFile(dir / "link.ini", "new");
    EXPECT_EQ(GetFile(dir / "real/target.ini"), "new");
    struct stat st {};
    ASSERT_EQ(::lstat((dir / "link.ini").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST(AtomicWriteFile, AFailedWriteKeepsTheOldFileAndCleansUp) {
    TempDir dir;
    PutFile(dir / "f.dat", "precious");
    // A file-size limit makes write() fail for every user, root included.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    EXPECT_THROW(AtomicWriteFile(dir / "f.dat", std::string(4096, 'x')), EFileError);
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(GetFile(dir / "f.dat"), "precious");
    EXPECT_EQ(ListFolder(dir.Path()), std::vector<std::string>{"f.dat"});
}

TEST(ReadFileBytes, AMissingFileIsAClearError) {
    TempDir dir;
    try {
        ReadFileBytes(dir / "nope.cfg");
        FAIL();
    } catch (const EFileError& e) {
        EXPECT_NE(std::string(e.what()).find("nope.cfg"), std::string::npos);
    }
}

TEST(PathHelpers, SlashesExtensionsAndNames) {
    EXPECT_EQ(AddTrailingSlash("/a/b"), "/a/b/");
    EXPECT_EQ(AddTrailingSlash("/a/b/"), "/a/b/");
    EXPECT_EQ(AddTrailingSlash(""), "/");
    EXPECT_EQ(RemoveTrailingSlash("/a/b/"), "/a/b");
    EXPECT_EQ(RemoveTrailingSlash("/a/b"), "/a/b");
    EXPECT_EQ(RemoveTrailingSlash("/"), "/");
    EXPECT_EQ(ExtractFilePath("/usr/bin/pellora"), "/usr/bin/");
    EXPECT_EQ(ExtractFileName("/usr/bin/pellora"), "pellora");
    EXPECT_EQ(ChangeFileExt("/d/custom.cfg", ".bak"), "/d/custom.bak");
    EXPECT_EQ(ChangeFileExt("/d.x/pellora", " Prefs.ini"), "/d.x/pellora Prefs.ini");
}

TEST(FindIgnoreCase, PrefersTheExactNameThenAnyCase) {
    TempDir dir;
    PutFile(dir / "Local/EN/Messages.cfg", "x");
    EXPECT_EQ(FindIgnoreCase(dir / "Local", "en"), dir / "Local/EN");
    EXPECT_EQ(FindIgnoreCase(dir / "Local/EN", "messages.cfg"), dir / "Local/EN/Messages.cfg");
    EXPECT_EQ(FindIgnoreCase(dir / "Local", "de"), "");
    PutFile(dir / "Local/en/x", "y");
    EXPECT_EQ(FindIgnoreCase(dir / "Local", "en"), dir / "Local/en");
    EXPECT_EQ(FindIgnoreCase(dir / "Missing", "en"), "");
}

TEST(ForceDirectories, CreatesEveryMissingParent) {
    TempDir dir;
    EXPECT_TRUE(ForceDirectories(dir / "a/b/c/"));
    EXPECT_TRUE(DirectoryExists(dir / "a/b/c"));
    PutFile(dir / "file", "x");
    EXPECT_FALSE(ForceDirectories(dir / "file/sub"));
}
