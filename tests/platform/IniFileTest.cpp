#include "platform/IniFile.h"
#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "support/TempDir.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace pellora;
using pellora::test::GetFile;
using pellora::test::PutFile;
using pellora::test::TempDir;

TEST(IniFile, MissingFileReadsAllDefaultsAndWriteCreatesFileAndFolder) {
    TempDir dir;
    IniFile ini(dir / "a/b/prefs.ini");
    EXPECT_EQ(ini.ReadInteger("Timer", "Fixed Interval", 5), 5);
    EXPECT_TRUE(ini.ReadBool("Sound", "Speach", true));
    EXPECT_EQ(ini.ReadString("Internet", "Proxy Address", "none"), "none");
    EXPECT_FALSE(ini.ValueExists("Timer", "Random"));

    ini.WriteInteger("Timer", "Fixed Interval", 7);
    EXPECT_EQ(GetFile(dir / "a/b/prefs.ini"), "[Timer]\r\nFixed Interval=7\r\n");
    EXPECT_EQ(ini.ReadInteger("Timer", "Fixed Interval", 5), 7);
}

TEST(IniFile, IntegersReadDecimalAndHexAndFallBackToTheDefault) {
    TempDir dir;
    PutFile(dir / "p.ini", "[Timer]\nA=0x0A\nB=0X1f\nC=-12\nD=12abc\nE=\nF=0x\nG=0xFFFFFFFF\n"
                           "H=99999999999\nI= 42 \nJ=\"17\"\nK=+3\n");
    IniFile ini(dir / "p.ini");
    EXPECT_EQ(ini.ReadInteger("Timer", "A", 5), 10);
    EXPECT_EQ(ini.ReadInteger("Timer", "B", 5), 31);
    EXPECT_EQ(ini.ReadInteger("Timer", "C", 5), -12);
    EXPECT_EQ(ini.ReadInteger("Timer", "D", 5), 5);
    EXPECT_EQ(ini.ReadInteger("Timer", "E", 5), 5);
    EXPECT_EQ(ini.ReadInteger("Timer", "F", 5), 5);
    EXPECT_EQ(ini.ReadInteger("Timer", "G", 5), -1);
    EXPECT_EQ(ini.ReadInteger("Timer", "H", 5), 5);
    EXPECT_EQ(ini.ReadInteger("Timer", "I", 5), 42);
    EXPECT_EQ(ini.ReadInteger("Timer", "J", 5), 17);
    EXPECT_EQ(ini.ReadInteger("Timer", "K", 5), 3);
    EXPECT_EQ(ini.ReadInteger("Timer", "Missing", -8), -8);
}

TEST(IniFile, BooleansAreTrueWhenTheIntegerIsNotZero) {
    TempDir dir;
    PutFile(dir / "p.ini", "[S]\nOne=1\nZero=0\nTwo=2\nWord=yes\n");
    IniFile ini(dir / "p.ini");
    EXPECT_TRUE(ini.ReadBool("S", "One", false));
    EXPECT_FALSE(ini.ReadBool("S", "Zero", true));
    EXPECT_TRUE(ini.ReadBool("S", "Two", false));
    EXPECT_TRUE(ini.ReadBool("S", "Word", true));
    EXPECT_FALSE(ini.ReadBool("S", "Word", false));
    ini.WriteBool("S", "One", false);
    ini.WriteBool("S", "Zero", true);
    EXPECT_EQ(GetFile(dir / "p.ini"), "[S]\r\nOne=0\r\nZero=1\r\nTwo=2\r\nWord=yes\r\n");
}

TEST(IniFile, NamesMatchWithoutRegardToCase) {
    TempDir dir;
    PutFile(dir / "p.ini", "[tImEr]\r\nfixed INTERVAL=9\r\n");
    IniFile ini(dir / "p.ini");
    EXPECT_EQ(ini.ReadInteger("Timer", "Fixed Interval", 5), 9);
    ini.WriteInteger("TIMER", "Fixed interval", 11);
    // The existing line is replaced; its section keeps its spelling.
    EXPECT_EQ(GetFile(dir / "p.ini"), "[tImEr]\r\nFixed interval=11\r\n");
}

TEST(IniFile, StringsLoseBlanksAndOnePairOfMatchingQuotes) {
    TempDir dir;
    PutFile(dir / "p.ini", "[I]\nA=  spaced out  \nB=\"quoted\"\nC='single'\nD=\"mismatch'\n"
                           "E=\"\"twice\"\"\nF=\"\n");
    IniFile ini(dir / "p.ini");
    EXPECT_EQ(ini.ReadString("I", "A", ""), "spaced out");
    EXPECT_EQ(ini.ReadString("I", "B", ""), "quoted");
    EXPECT_EQ(ini.ReadString("I", "C", ""), "single");
    EXPECT_EQ(ini.ReadString("I", "D", ""), "\"mismatch'");
    EXPECT_EQ(ini.ReadString("I", "E", ""), "\"twice\"");
    EXPECT_EQ(ini.ReadString("I", "F", ""), "\"");

    ini.WriteString("I", "G", "  padded  ");
    EXPECT_EQ(ini.ReadString("I", "G", ""), "padded");
}

TEST(IniFile, LongValuesAreCutAt2047BytesOnACharacterBoundary) {
    TempDir dir;
    IniFile ini(dir / "p.ini");
    ini.WriteString("S", "Long", std::string(3000, 'x'));
    EXPECT_EQ(ini.ReadString("S", "Long", "").size(), 2047u);
    // 2046 ASCII bytes then a two-byte character straddling the limit: it is dropped whole.
    ini.WriteString("S", "Utf", std::string(2046, 'y') + "\xC3\xA9" + "z");
    EXPECT_EQ(ini.ReadString("S", "Utf", ""), std::string(2046, 'y'));
}

TEST(IniFile, WritesKeepEveryOtherLineCommentAndSection) {
    TempDir dir;
    PutFile(dir / "p.ini", "; my settings\n[Timer]\nRandom=1\n\n[Sound]\nSound=0\n# note\n"
                           "[Other]\nx=y\n");
    IniFile ini(dir / "p.ini");
    ini.WriteInteger("Timer", "Fixed Interval", 12); // new key goes after the section's last key
    ini.WriteBool("Sound", "Sound", true);           // replaced in place
    ini.WriteString("Internet", "Proxy Address", "localhost:3128"); // new section at the end
    EXPECT_EQ(GetFile(dir / "p.ini"),
              "; my settings\r\n[Timer]\r\nRandom=1\r\nFixed Interval=12\r\n"
              "\r\n[Sound]\r\nSound=1\r\n# note\r\n[Other]\r\nx=y\r\n"
              "[Internet]\r\nProxy Address=localhost:3128\r\n");
    ini.DeleteKey("timer", "random");
    EXPECT_FALSE(ini.ValueExists("Timer", "Random"));
    EXPECT_EQ(ini.ReadInteger("Timer", "Fixed Interval", 0), 12);
}

TEST(IniFile, KeysOutsideTheirSectionAndCommentedKeysAreNotRead) {
    TempDir dir;
    PutFile(dir / "p.ini", "Orphan=1\n[A]\n;Hidden=2\nKey=3\n[B]\nKey=4\n");
    IniFile ini(dir / "p.ini");
    EXPECT_EQ(ini.ReadInteger("A", "Orphan", 0), 0);
    EXPECT_EQ(ini.ReadInteger("A", "Hidden", 0), 0);
    EXPECT_EQ(ini.ReadInteger("A", "Key", 0), 3);
    EXPECT_EQ(ini.ReadInteger("B", "Key", 0), 4);
}

TEST(IniFile, ALineBreakInAValueCannotForgeAnotherKey) {
    TempDir dir;
    IniFile ini(dir / "p.ini");
    ini.WriteString("Internet", "Proxy Address", "host\r\n[Timer]\r\nFixed Interval=0");
    EXPECT_EQ(ini.ReadInteger("Timer", "Fixed Interval", 5), 5);
    EXPECT_EQ(ini.ReadString("Internet", "Proxy Address", ""), "host  [Timer]  Fixed Interval=0");
}

TEST(IniFile, AByteOrderMarkBeforeTheFirstSectionIsTolerated) {
    TempDir dir;
    PutFile(dir / "p.ini", "\xEF\xBB\xBF[Timer]\nRandom=1\n");
    IniFile ini(dir / "p.ini");
    EXPECT_TRUE(ini.ReadBool("Timer", "Random", false));
}

TEST(IniFile, AWriteThatCannotCreateTheFolderThrowsAClearError) {
    TempDir dir;
    PutFile(dir / "blocker", "a file where a folder should be");
    IniFile ini(dir / "blocker/p.ini");
    try {
        ini.WriteInteger("A", "K", 2);
        FAIL() << "no error";
    } catch (const EFileError& e) {
        EXPECT_NE(std::string(e.what()).find("blocker"), std::string::npos) << e.what();
    }
    EXPECT_EQ(ini.ReadInteger("A", "K", 0), 0);
    EXPECT_EQ(GetFile(dir / "blocker"), "a file where a folder should be");
}

namespace {

// Waits for the child and tells whether it ended normally with status 0.
bool EndedWell(pid_t child) {
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The names in the folder other than the settings file and its lock file.
std::vector<std::string> Leftovers(const std::string& folder, const std::string& name) {
    std::vector<std::string> others;
    for (const auto& entry : ListFolder(folder))
        if (entry != name && entry != name + ".lock")
            others.push_back(entry);
    return others;
}

} // namespace

TEST(IniFileSharing, WritersInSeveralProcessesAndThreadsKeepEachOthersKeys) {
    TempDir dir;
    const std::string path = dir / "shared.ini";
    constexpr int Processes = 3, Threads = 2, Keys = 30;
    auto writeKeys = [&path](const std::string& writer) {
        for (int k = 0; k < Keys; ++k)
            IniFile(path).WriteInteger("Keys", writer + "-" + std::to_string(k), k);
    };
    std::vector<pid_t> children;
    for (int p = 0; p < Processes; ++p) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            int status = 0;
            try {
                writeKeys("process" + std::to_string(p));
            } catch (...) {
                status = 1;
            }
            ::_exit(status);
        }
        children.push_back(child);
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t)
        threads.emplace_back([&writeKeys, t] { writeKeys("thread" + std::to_string(t)); });
    for (auto& thread : threads)
        thread.join();
    for (pid_t child : children)
        EXPECT_TRUE(EndedWell(child));

    IniFile ini(path);
    int missing = 0;
    for (const std::string writer : {"process0", "process1", "process2", "thread0", "thread1"})
        for (int k = 0; k < Keys; ++k)
            missing += ini.ReadInteger("Keys", writer + "-" + std::to_string(k), -1) == k ? 0 : 1;
    EXPECT_EQ(missing, 0);
}

TEST(IniFileSharing, ABatchIsOneReplaceAndNestedWritesOfTheSameFileNeitherBlockNorGetLost) {
    TempDir dir;
    const std::string path = dir / "state.ini";
    PutFile(path, "[Main1024x768]\r\nLeft=1\r\nTop=2\r\nSkin=Old\r\n");
    IniFile state(path);
    state.Update([&](IniBatch& batch) {
        batch.WriteInteger("Main1024x768", "Left",
                           batch.ReadInteger("Main1024x768", "Left", 0) + 9);
        batch.WriteInteger("Main1024x768", "Top", 20);
        // Nothing of the batch is in the file before it ends.
        EXPECT_EQ(GetFile(path), "[Main1024x768]\r\nLeft=1\r\nTop=2\r\nSkin=Old\r\n");
        // Another object on the same file, in the same thread, while the lock is held.
        IniFile(path).WriteString("Other", "Key", "kept");
        EXPECT_EQ(IniFile(path).ReadString("Other", "Key", ""), "kept");
        batch.WriteString("Main1024x768", "Skin", "New");
        EXPECT_EQ(batch.ReadString("Main1024x768", "Skin", ""), "New");
    });
    EXPECT_EQ(GetFile(path),
              "[Main1024x768]\r\nLeft=10\r\nTop=20\r\nSkin=New\r\n[Other]\r\nKey=kept\r\n");

    // A batch given up by an error writes nothing.
    EXPECT_THROW(state.Update([](IniBatch& batch) {
        batch.WriteString("Main1024x768", "Skin", "Lost");
        throw EFileError("given up");
    }),
                 EFileError);
    EXPECT_EQ(state.ReadString("Main1024x768", "Skin", ""), "New");

    // A writer in another thread waits for the batch and is not lost either.
    std::thread writer;
    state.Update([&](IniBatch& batch) {
        writer = std::thread([&path] { IniFile(path).WriteString("Thread", "Key", "waited"); });
        batch.WriteInteger("Main1024x768", "Top", 30);
    });
    writer.join();
    EXPECT_EQ(state.ReadString("Thread", "Key", ""), "waited");
    EXPECT_EQ(state.ReadInteger("Main1024x768", "Top", 0), 30);
}

TEST(IniFileSharing, AWriterKilledWhileHoldingTheLockBlocksNobody) {
    TempDir dir;
    const std::string path = dir / "prefs.ini";
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        IniFile(path).Update([&](IniBatch& batch) {
            batch.WriteString("A", "B", "never written");
            ::write(ready[1], "x", 1);
            for (;;)
                ::pause();
        });
        ::_exit(1);
    }
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1); // the child holds the lock now
    ::close(ready[0]);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    IniFile(path).WriteString("A", "C", "written");
    EXPECT_EQ(GetFile(path), "[A]\r\nC=written\r\n");
}

TEST(IniFileSharing, TheNextWriteRemovesTheTemporaryFileOfAKilledWrite) {
    TempDir dir;
    const std::string path = dir / "prefs.ini";
    const std::string big(8 << 20, 'v');
    // Kill a writer of large values while its temporary file exists; a kill that lands
    // between two writes leaves nothing behind, so try again (a few times at most).
    std::vector<std::string> leftovers;
    for (int attempt = 0; attempt < 20 && leftovers.empty(); ++attempt) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;)
                IniFile(path).WriteString("Big", "Value", big);
        }
        // Until the writer's temporary file shows (or the writer is gone, which fails below).
        bool gone = false;
        while (!gone && Leftovers(dir.Path(), "prefs.ini").empty())
            gone = ::waitpid(child, nullptr, WNOHANG) == child;
        if (!gone) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
        }
        leftovers = Leftovers(dir.Path(), "prefs.ini");
    }
    ASSERT_FALSE(leftovers.empty());

    IniFile(path).WriteString("Small", "Key", "1");
    EXPECT_EQ(Leftovers(dir.Path(), "prefs.ini"), std::vector<std::string>{});
    EXPECT_EQ(IniFile(path).ReadString("Small", "Key", ""), "1");
}

// A read-only data folder is what the user hears of, not a lock file it could not make. The
// folder is made read-only in a mount namespace of a child process of its own.
TEST(IniFile, AReadOnlyFolderIsTheReasonAWriteFailsFor) {
    TempDir dir;
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ends[0]);
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", dir.Path().c_str(), "tmpfs", MS_RDONLY, nullptr) != 0)
            ::_exit(77);
        std::string told = "written";
        try {
            IniFile(dir / "prefs.ini").WriteString("Timer", "Random", "1");
        } catch (const EFileError& e) {
            told = e.what();
        }
        (void)!::write(ends[1], told.data(), told.size());
        ::_exit(0);
    }
    ::close(ends[1]);
    std::string told;
    char buffer[512];
    for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;)
        told.append(buffer, static_cast<std::size_t>(n));
    ::close(ends[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "no mount namespace can be made here";
    EXPECT_NE(told.find("Read-only file system"), std::string::npos) << told;
    EXPECT_NE(told.find(dir / "prefs.ini"), std::string::npos) << told;
}
