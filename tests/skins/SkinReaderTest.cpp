#include "skins/SkinReader.h"
#include "LzhEncoder.h"
#include "SkinWriter.h"
#include "platform/Errors.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace pellora;

namespace {

void AppendInt32(std::string& out, std::int32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((static_cast<std::uint32_t>(value) >> (8 * i)) & 0xFF));
}

// The unpacked layout written out field by field, so malformed ones can be made too.
std::string Layout(const std::string& table, const std::vector<std::int32_t>& sizes,
                   const std::string& data, std::int32_t version = 20000) {
    std::string out;
    AppendInt32(out, version);
    AppendInt32(out, static_cast<std::int32_t>(table.size()));
    AppendInt32(out, 7);
    AppendInt32(out, -7);
    out += table;
    for (auto size : sizes)
        AppendInt32(out, size);
    return out + data;
}

std::string Pack(const std::string& unpacked) {
    std::string file;
    AppendInt32(file, static_cast<std::int32_t>(unpacked.size()));
    return file + LzhEncode(unpacked);
}

std::string Extracted(const TSkinReader& reader, const std::string& name) {
    std::string target = "stale";
    reader.Extract(name, target);
    return target;
}

} // namespace

TEST(SkinReader, OpensAWrittenContainerAndFindsEntriesByLowerCasedName) {
    TSkinWriter writer;
    writer.Add("Skin.INI", "[Buttons]\r\nTrans=1\r\n");
    writer.Add("Button.bmp", std::string(3000, 'b'));
    writer.Add("empty.bmp", "");
    writer.Add("check.bmp", "CHECK");
    TSkinReader reader;
    ASSERT_TRUE(reader.Open(writer.Build())) << reader.ErrorText();
    EXPECT_EQ(reader.Count(), 4u);
    EXPECT_EQ(reader.EntryNames(),
              (std::vector<std::string>{"skin.ini", "button.bmp", "empty.bmp", "check.bmp"}));
    EXPECT_EQ(reader.EntrySizes(), (std::vector<std::int32_t>{20, 3000, 0, 5}));
    EXPECT_EQ(reader.Header()[0], 20000);

    std::string target;
    EXPECT_TRUE(reader.Extract("BUTTON.BMP", target));
    EXPECT_EQ(target, std::string(3000, 'b'));
    EXPECT_EQ(Extracted(reader, "check.bmp"), "CHECK");
    EXPECT_TRUE(reader.Extract("Empty.bmp", target));
    EXPECT_EQ(target, "");
    EXPECT_FALSE(reader.Extract("missing.bmp", target));
    EXPECT_EQ(target, "");

    auto name = reader.ExtractByPart(".ini", target);
    ASSERT_TRUE(name);
    EXPECT_EQ(*name, "skin.ini");
    EXPECT_EQ(target, "[Buttons]\r\nTrans=1\r\n");
    // The part is compared with the lower-cased names as it is.
    EXPECT_FALSE(reader.ExtractByPart(".INI", target));
    EXPECT_EQ(target, "");
    EXPECT_EQ(*reader.ExtractByPart("bmp", target), "button.bmp");
}

TEST(SkinReader, NameTableLineEndings) {
    const std::vector<std::int32_t> sizes = {1, 2};
    for (const char* table : {"a.ini\r\nb.bmp", "a.ini\r\nb.bmp\r\n", "a.ini\nb.bmp\n"}) {
        SCOPED_TRACE(table);
        TSkinReader reader;
        ASSERT_TRUE(reader.Open(Pack(Layout(table, sizes, "xyy"))));
        EXPECT_EQ(reader.EntryNames(), (std::vector<std::string>{"a.ini", "b.bmp"}));
        EXPECT_EQ(Extracted(reader, "b.bmp"), "yy");
    }
    TSkinReader reader;
    ASSERT_TRUE(reader.Open(Pack(Layout("", {}, ""))));
    EXPECT_EQ(reader.Count(), 0u);
    EXPECT_EQ(Extracted(reader, ""), "");
    // An empty line in the middle is an entry of its own.
    ASSERT_TRUE(reader.Open(Pack(Layout("a\r\n\r\nb", {1, 1, 1}, "123"))));
    EXPECT_EQ(Extracted(reader, "b"), "3");
}

TEST(SkinReader, EntriesThatReachPastTheDataAreMissing) {
    TSkinReader reader;
    ASSERT_TRUE(reader.Open(Pack(Layout("a\r\nb\r\nc\r\nd\r\ne", {2, 3, 100, -1, 1}, "aabbbc"))));
    EXPECT_EQ(Extracted(reader, "a"), "aa");
    EXPECT_EQ(Extracted(reader, "b"), "bbb");
    std::string target = "stale";
    EXPECT_FALSE(reader.Extract("c", target));
    EXPECT_EQ(target, "");
    EXPECT_FALSE(reader.Entry(2));
    EXPECT_FALSE(reader.Entry(3)); // negative size
    EXPECT_FALSE(reader.Entry(4)); // starts past the end
    EXPECT_FALSE(reader.Entry(5)); // no such entry
    EXPECT_EQ(reader.EntrySizes()[2], 100);

    // A negative size moves the next entry back, as the sizes are simply summed.
    ASSERT_TRUE(reader.Open(Pack(Layout("a\r\nb\r\nc", {3, -2, 2}, "xyz"))));
    EXPECT_EQ(Extracted(reader, "c"), "yz");
    // The first entry of a name wins even when its bytes are missing.
    ASSERT_TRUE(reader.Open(Pack(Layout("x\r\nx", {9, 1}, "q"))));
    EXPECT_EQ(Extracted(reader, "x"), "");
}

TEST(SkinReader, EntryCountIsLimited) {
    for (std::size_t count : {TSkinReader::MaxEntries, TSkinReader::MaxEntries + 1}) {
        std::string table;
        for (std::size_t i = 0; i < count; ++i)
            // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) about "e" + string.
            table.append("e").append(std::to_string(i)).append("\r\n");
        TSkinReader reader;
        bool opened = reader.Open(Pack(Layout(table, std::vector<std::int32_t>(count, 0), "")));
        EXPECT_EQ(opened, count <= TSkinReader::MaxEntries) << count;
        if (!opened) {
            EXPECT_NE(reader.ErrorText().find("1001"), std::string::npos);
        }
    }
    // A table of nothing but line breaks is refused without building its lines.
    TSkinReader reader;
    EXPECT_FALSE(reader.Open(Pack(Layout(std::string(2000000, '\n'), {}, ""))));
    EXPECT_EQ(reader.Count(), 0u);
}

TEST(SkinReader, OlderVersionIsReportedAndRefused) {
    TSkinReader reader;
    std::vector<std::string> shown;
    reader.OnMessage = [&](const std::string& text) { shown.push_back(text); };
    EXPECT_FALSE(reader.Open(Pack(Layout("a", {1}, "x", 19999))));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "This is Older Skin File\rPlease update to new version !");
    EXPECT_FALSE(reader.IsOpen());
    EXPECT_NE(reader.ErrorText().find("19999"), std::string::npos);

    // Without a handler it is still refused.
    TSkinReader quiet;
    EXPECT_FALSE(quiet.Open(Pack(Layout("a", {1}, "x", 0))));
}

TEST(SkinReader, MalformedContainersAreRefusedWithAReason) {
    const std::string good = Layout("a\r\nb", {1, 1}, "xy");
    struct Case {
        const char* What;
        std::string File;
    };
    std::string bigTable = good;
    bigTable[4] = '\x7F'; // name table longer than the data
    std::string negativeTable = good;
    negativeTable[7] = '\x80';
    std::vector<Case> cases = {
        {"empty file", ""},
        {"size only", Pack("").substr(0, 3)},
        {"nothing unpacked", Pack("")},
        {"header cut", Pack(good.substr(0, 10))},
        {"table cut", Pack(good.substr(0, 18))},
        {"sizes cut", Pack(good.substr(0, good.size() - 5))},
        {"table too long", Pack(bigTable)},
        {"negative table length", Pack(negativeTable)},
    };
    for (const auto& c : cases) {
        TSkinReader reader;
        bool warned = false;
        reader.OnMessage = [&](const std::string&) { warned = true; };
        EXPECT_FALSE(reader.Open(c.File)) << c.What;
        EXPECT_FALSE(reader.ErrorText().empty()) << c.What;
        EXPECT_FALSE(warned) << c.What;
        EXPECT_EQ(reader.Count(), 0u) << c.What;
    }
}

TEST(SkinReader, DeclaredSizesAreBoundedBeforeDecoding) {
    // More than any skin may hold.
    std::string huge;
    AppendInt32(huge, static_cast<std::int32_t>(TSkinReader::MaxUnpackedSize + 1));
    huge += std::string(100, '\0');
    TSkinReader reader;
    EXPECT_FALSE(reader.Open(huge));
    EXPECT_NE(reader.ErrorText().find("at most"), std::string::npos);
    std::string all;
    AppendInt32(all, -1);
    EXPECT_FALSE(reader.Open(all + "abc"));

    // More than the stream could hold: 10 bytes of stream cannot make a megabyte.
    std::string tooShort;
    AppendInt32(tooShort, 1 << 20);
    EXPECT_FALSE(reader.Open(tooShort + std::string(10, '\0')));
    EXPECT_NE(reader.ErrorText().find("too short"), std::string::npos);

    // The densest honest stream stays within the bound.
    std::string runs(2000000, 'z');
    TSkinWriter writer;
    writer.Add("r.ini", runs);
    std::string file = writer.Build();
    EXPECT_GT(file.size(), runs.size() / TSkinReader::MaxRatio);
    ASSERT_TRUE(reader.Open(file)) << reader.ErrorText();
    EXPECT_EQ(Extracted(reader, "r.ini"), runs);
}

TEST(SkinReader, TruncatedStreamStillFillsTheRecordedSize) {
    TSkinWriter writer;
    writer.Add("skin.ini", "[Buttons]\r\n");
    std::string tail;
    for (int i = 0; i < 2000; ++i)
        tail += "line " + std::to_string(i) + "\r\n";
    writer.Add("tail.txt", tail);
    std::string file = writer.Build();
    TSkinReader reader;
    ASSERT_TRUE(reader.Open(file));
    EXPECT_FALSE(reader.IsTruncated());
    ASSERT_TRUE(reader.Open(file.substr(0, file.size() - 20)));
    EXPECT_TRUE(reader.IsTruncated());
    auto entry = reader.Entry(1);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->size(), tail.size());
    EXPECT_EQ(Extracted(reader, "skin.ini"), "[Buttons]\r\n");
    EXPECT_EQ(entry->substr(0, 1000), tail.substr(0, 1000));
}

TEST(SkinReader, ReopeningReplacesEverything) {
    TSkinReader reader;
    ASSERT_TRUE(reader.Open(Pack(Layout("a", {1}, "1"))));
    EXPECT_FALSE(reader.Open("bad"));
    EXPECT_EQ(reader.Count(), 0u);
    EXPECT_EQ(Extracted(reader, "a"), "");
    ASSERT_TRUE(reader.Open(Pack(Layout("b", {1}, "2"))));
    EXPECT_EQ(Extracted(reader, "a"), "");
    EXPECT_EQ(Extracted(reader, "b"), "2");
    EXPECT_TRUE(reader.ErrorText().empty());
}

TEST(SkinWriter, RefusesEntriesTheFormatCannotHold) {
    TSkinWriter writer;
    writer.Add("skin.ini", "");
    for (const char* name : {"", ".", "..", "a\r\nb", "a\nb", "sub/x.bmp", "SKIN.ini"})
        EXPECT_THROW(writer.Add(name, "x"), EPelloraError) << name;
    for (std::size_t i = 1; i < TSkinReader::MaxEntries; ++i)
        writer.Add(std::string("e").append(std::to_string(i)), ""); // see EntryCountIsLimited
    EXPECT_THROW(writer.Add("one.more", ""), EPelloraError);
    EXPECT_EQ(writer.Entries().size(), TSkinReader::MaxEntries);

    TSkinWriter big;
    big.Add("a", std::string(TSkinReader::MaxUnpackedSize / 2, 'a'));
    EXPECT_THROW(big.Add("b", std::string(TSkinReader::MaxUnpackedSize / 2, 'b')), EPelloraError);
    EXPECT_EQ(big.Entries().size(), 1u);
}
