#include "LzhEncoder.h"
#include "skins/SkinReader.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <sys/wait.h>

using namespace pellora;
using pellora::test::GetFile;
using pellora::test::PutFile;
using pellora::test::TempDir;

namespace {

struct Result {
    int Exit = -1;
    std::string Out;
    std::string Err;
};

// Runs the packer with the arguments (already quoted where needed).
Result RunPacker(const TempDir& dir, const std::string& arguments) {
    std::string command = std::string("'") + PELLORA_BUILD_DIR + "/bin/pellora-skinpack' " +
                          arguments + " >'" + dir / "out.txt" + "' 2>'" + dir / "err.txt" + "'";
    int status = std::system(command.c_str());
    Result result;
    result.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.Out = GetFile(dir / "out.txt");
    result.Err = GetFile(dir / "err.txt");
    return result;
}

std::string Q(const std::string& path) {
    return "'" + path + "'";
}

std::string Noise(std::size_t size) {
    std::mt19937 random(static_cast<unsigned>(size));
    std::string out(size, '\0');
    for (char& c : out)
        c = static_cast<char>(random());
    return out;
}

} // namespace

TEST(SkinPack, PacksListsAndUnpacksAFolder) {
    TempDir dir;
    PutFile(dir / "src/Button.bmp", Noise(5000));
    PutFile(dir / "src/credits.txt", "Made by hand\r\n");
    const std::string ini = "[Buttons]\r\nBitmap=button.bmp\r\n";
    PutFile(dir / "src/zz.ini", ini);
    PutFile(dir / "src/empty.bmp", "");
    PutFile(dir / "src/sub/ignored.bmp", "not packed");

    Result pack = RunPacker(dir, "pack " + Q(dir / "src") + " " + Q(dir / "skin.skn"));
    ASSERT_EQ(pack.Exit, 0) << pack.Err;
    EXPECT_NE(pack.Err.find("sub"), std::string::npos); // the folder is named as skipped

    TSkinReader reader;
    ASSERT_TRUE(reader.Open(GetFile(dir / "skin.skn")));
    // The ini first, then the rest by name.
    EXPECT_EQ(reader.EntryNames(),
              (std::vector<std::string>{"zz.ini", "button.bmp", "credits.txt", "empty.bmp"}));

    Result list = RunPacker(dir, "list " + Q(dir / "skin.skn"));
    ASSERT_EQ(list.Exit, 0) << list.Err;
    EXPECT_EQ(list.Out, std::to_string(ini.size()) +
                            "\tzz.ini\n5000\tbutton.bmp\n14\tcredits.txt\n0\tempty.bmp\n");

    Result unpack = RunPacker(dir, "unpack " + Q(dir / "skin.skn") + " " + Q(dir / "back/x"));
    ASSERT_EQ(unpack.Exit, 0) << unpack.Err;
    EXPECT_EQ(GetFile(dir / "back/x/button.bmp"), Noise(5000));
    EXPECT_EQ(GetFile(dir / "back/x/credits.txt"), "Made by hand\r\n");
    EXPECT_EQ(GetFile(dir / "back/x/zz.ini"), ini);
    EXPECT_EQ(GetFile(dir / "back/x/empty.bmp"), "");

    // Packing again into the folder itself leaves the old output out.
    ASSERT_EQ(RunPacker(dir, "pack " + Q(dir / "src") + " " + Q(dir / "src/skin.skn")).Exit, 0);
    ASSERT_TRUE(reader.Open(GetFile(dir / "src/skin.skn")));
    ASSERT_EQ(RunPacker(dir, "pack " + Q(dir / "src") + " " + Q(dir / "src/skin.skn")).Exit, 0);
    ASSERT_TRUE(reader.Open(GetFile(dir / "src/skin.skn")));
    EXPECT_EQ(reader.Count(), 4u);
}

TEST(SkinPack, BadInputGivesAClearErrorAndNoOutput) {
    TempDir dir;
    PutFile(dir / "junk.skn", "definitely not a skin");
    PutFile(dir / "src/a.ini", "");
    PutFile(dir / "src/A.INI", "");

    Result missing = RunPacker(dir, "list " + Q(dir / "none.skn"));
    EXPECT_EQ(missing.Exit, 1);
    EXPECT_NE(missing.Err.find("does not exist"), std::string::npos) << missing.Err;

    Result junk = RunPacker(dir, "unpack " + Q(dir / "junk.skn") + " " + Q(dir / "out"));
    EXPECT_EQ(junk.Exit, 1);
    EXPECT_NE(junk.Err.find("junk.skn"), std::string::npos) << junk.Err;
    EXPECT_EQ(GetFile(dir / "out"), "<missing>");

    Result clash = RunPacker(dir, "pack " + Q(dir / "src") + " " + Q(dir / "clash.skn"));
    EXPECT_EQ(clash.Exit, 1);
    EXPECT_NE(clash.Err.find("letter case"), std::string::npos) << clash.Err;
    EXPECT_EQ(GetFile(dir / "clash.skn"), "<missing>");

    Result notFolder = RunPacker(dir, "pack " + Q(dir / "nothing") + " " + Q(dir / "x.skn"));
    EXPECT_EQ(notFolder.Exit, 1);
    EXPECT_EQ(RunPacker(dir, "").Exit, 2);
    EXPECT_EQ(RunPacker(dir, "pack only-one").Exit, 2);
}

TEST(SkinPack, UnpackRefusesNamesThatLeaveTheFolder) {
    // Written field by field: the writer itself refuses such names.
    std::string unpacked;
    auto put = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            unpacked.push_back(static_cast<char>(v >> (8 * i)));
    };
    const std::string table = "ok.ini\r\n../evil.bmp\r\n";
    put(20000);
    put(static_cast<std::uint32_t>(table.size()));
    put(0);
    put(0);
    unpacked += table;
    put(1);
    put(1);
    unpacked += "ab";
    TempDir dir;
    std::string file;
    for (int i = 0; i < 4; ++i)
        file.push_back(static_cast<char>(unpacked.size() >> (8 * i)));
    PutFile(dir / "evil.skn", file + LzhEncode(unpacked));

    Result result = RunPacker(dir, "unpack " + Q(dir / "evil.skn") + " " + Q(dir / "out/in"));
    EXPECT_EQ(result.Exit, 1);
    EXPECT_NE(result.Err.find("../evil.bmp"), std::string::npos) << result.Err;
    EXPECT_EQ(GetFile(dir / "out/evil.bmp"), "<missing>");
    EXPECT_EQ(GetFile(dir / "out/in/ok.ini"), "<missing>"); // nothing written at all
}

TEST(SkinPack, ATruncatedContainerIsReportedAndNotUnpacked) {
    TempDir dir;
    PutFile(dir / "src/skin.ini", "[Buttons]\r\nLeftWidth=3\r\n");
    PutFile(dir / "src/tail.bmp", Noise(20000));
    ASSERT_EQ(RunPacker(dir, "pack " + Q(dir / "src") + " " + Q(dir / "whole.skn")).Exit, 0);
    const std::string whole = GetFile(dir / "whole.skn");
    PutFile(dir / "cut.skn", whole.substr(0, whole.size() - 100));

    Result list = RunPacker(dir, "list " + Q(dir / "cut.skn"));
    EXPECT_EQ(list.Exit, 1);
    EXPECT_NE(list.Err.find("truncated"), std::string::npos) << list.Err;
    EXPECT_NE(list.Err.find("cut.skn"), std::string::npos) << list.Err;

    Result unpack = RunPacker(dir, "unpack " + Q(dir / "cut.skn") + " " + Q(dir / "out"));
    EXPECT_EQ(unpack.Exit, 1);
    EXPECT_NE(unpack.Err.find("truncated"), std::string::npos) << unpack.Err;
    EXPECT_EQ(GetFile(dir / "out"), "<missing>");

    // The whole file is fine, down to its last byte.
    EXPECT_EQ(RunPacker(dir, "list " + Q(dir / "whole.skn")).Exit, 0);
    Result full = RunPacker(dir, "unpack " + Q(dir / "whole.skn") + " " + Q(dir / "out"));
    EXPECT_EQ(full.Exit, 0) << full.Err;
    EXPECT_EQ(GetFile(dir / "out/tail.bmp"), Noise(20000));
}
