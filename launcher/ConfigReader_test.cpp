#include "launcher/ConfigReader.h"

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

namespace {

using test_support::TempDir;
using test_support::U16;
using test_support::U8;
using test_support::WriteFile;

// "key=v1|v2" per entry, one entry per line, in list order.
std::string Describe(const ConfigList& list) {
    std::string out;
    for (const ConfigEntry& entry : list) {
        out += U8(entry.m_key) + "=";
        for (std::size_t i = 0; i < entry.m_values.size(); ++i) {
            out += (i == 0 ? "" : "|") + U8(entry.m_values[i]);
        }
        out += "\n";
    }
    return out;
}

std::string Parse(const std::string& bytes) {
    ConfigList list;
    ConfigReader reader(list);
    reader.Feed(bytes.data(), bytes.size());
    reader.Finish();
    return Describe(list);
}

// Reads the bytes back through a real file, in the reader's own blocks.
std::string ReadThroughFile(const std::string& bytes) {
    TempDir dir;
    WriteFile(dir / "qalaunch.cfg", bytes);
    ConfigList list;
    ReadConfigFile(U16(dir / "qalaunch.cfg"), list);
    return Describe(list);
}

TEST(ConfigReaderTest, DuplicateKeysAndValuesMergeWithoutRegardToCase) {
    EXPECT_EQ(Parse("CommonInfoBases=A\ncommoninfobases=B\nCommonInfoBases=a\n"),
              "CommonInfoBases=A|B\n");
}

TEST(ConfigReaderTest, NothingIsTrimmed) {
    ConfigList list;
    ConfigReader reader(list);
    const std::string text = "Key = value \n";
    reader.Feed(text.data(), text.size());
    reader.Finish();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(U8(list[0].m_key), "Key ");
    EXPECT_EQ(U8(list[0].m_values[0]), " value ");
}

TEST(ConfigReaderTest, LineShapes) {
    EXPECT_EQ(Parse("NoEquals\n"), "NoEquals=\n");
    EXPECT_EQ(Parse("=value\n"), "=value\n");
    EXPECT_EQ(Parse("a=b=c\n"), "a=b=c\n");
    EXPECT_EQ(Parse("a=\n"), "a=\n");
    EXPECT_EQ(Parse("=\n"), "");
    EXPECT_EQ(Parse("last=line"), "last=line\n");
}

TEST(ConfigReaderTest, CarriageReturnsStayInTheValueOrTheKey) {
    EXPECT_EQ(Parse("a=1\r\nb=2\r\n"), "a=1\r\nb=2\r\n");
    EXPECT_EQ(Parse("bare\r\n"), "bare\r=\n");
}

TEST(ConfigReaderTest, EmptyFilesAndEmptyLinesGiveNothing) {
    EXPECT_EQ(Parse(""), "");
    EXPECT_EQ(Parse("\n\n\n"), "");
    EXPECT_EQ(ReadThroughFile(""), "");
}

TEST(ConfigReaderTest, MissingFileLeavesTheListAsItWas) {
    TempDir dir;
    ConfigList list{{u"kept", {u"1"}}};
    ReadConfigFile(U16(dir / "absent.cfg"), list);
    ReadConfigFile(U16(dir.path()), list);  // a directory reads as nothing
    EXPECT_EQ(Describe(list), "kept=1\n");
}

TEST(ConfigReaderTest, ReadingAddsToWhatTheListHolds) {
    TempDir dir;
    WriteFile(dir / "f.cfg", "K=2\nK=1\n");
    ConfigList list{{u"k", {u"1"}}};
    ReadConfigFile(U16(dir / "f.cfg"), list);
    EXPECT_EQ(Describe(list), "k=1|2\n");
}

TEST(ConfigReaderTest, CyrillicAndCjkKeysAndValues) {
    const std::string text =
        "Путь=Шаблоны\n"
        "設定=テンプレート\n"
        "ConfigurationTemplatesLocation=/Users/иван/模板\n";
    EXPECT_EQ(Parse(text), text);
    EXPECT_EQ(ReadThroughFile(text), text);
}

TEST(ConfigReaderTest, CharactersOutsideTheBasicPlaneBecomeSurrogatePairs) {
    ConfigList list;
    ConfigReader reader(list);
    const std::string text = "k=\xF0\x9F\x98\x80";  // U+1F600
    reader.Feed(text.data(), text.size());
    reader.Finish();
    ASSERT_EQ(list.size(), 1u);
    ASSERT_EQ(list[0].m_values[0].size(), 2u);
    EXPECT_EQ(list[0].m_values[0][0], 0xD83D);
    EXPECT_EQ(list[0].m_values[0][1], 0xDE00);
}

// A multibyte character cut by the file's 1024-byte blocks, at every offset
// inside it, for two-, three- and four-byte characters.
TEST(ConfigReaderTest, CharacterSplitAcrossBlocksIsDecodedWhole) {
    for (const std::string character : {"Ж", "語", "\xF0\x9F\x98\x80"}) {
        for (std::size_t cut = 1; cut < character.size(); ++cut) {
            const std::string prefix = "k=" + std::string(1024 - 2 - cut, 'x');
            const std::string text = prefix + character + "tail\n";
            EXPECT_EQ(ReadThroughFile(text), text) << character.size() << " bytes, cut " << cut;
        }
    }
}

TEST(ConfigReaderTest, FeedingInAnyPiecesGivesTheSameList) {
    const std::string text = "Путь=a\xE8\xAA\x9E\r\nbad=\xC3\x28\xF0\x9F\x98\n\xEF\xBB\xBFx=y";
    const std::string whole = Parse(text);
    for (std::size_t piece = 1; piece <= 4; ++piece) {
        ConfigList list;
        ConfigReader reader(list);
        for (std::size_t at = 0; at < text.size(); at += piece) {
            reader.Feed(text.data() + at, std::min(piece, text.size() - at));
        }
        reader.Finish();
        EXPECT_EQ(Describe(list), whole) << "pieces of " << piece;
    }
}

TEST(ConfigReaderTest, InvalidBytesReadAsReplacementCharacters) {
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(Parse("k=\xFF\n"), "k=" + fffd + "\n");
    // A broken sequence is one replacement; the byte that broke it counts.
    EXPECT_EQ(Parse("k=\xC3(\n"), "k=" + fffd + "(\n");
    EXPECT_EQ(Parse("k=\xE8\xAA=\n"), "k=" + fffd + "=\n");
    EXPECT_EQ(Parse("k\xE8\xAA=v\n"), "k" + fffd + "=v\n");
    // Overlong forms, encoded surrogates and values above U+10FFFF.
    EXPECT_EQ(Parse("k=\xC0\xAF"), "k=" + fffd + fffd + "\n");
    EXPECT_EQ(Parse("k=\xED\xA0\x80"), "k=" + fffd + fffd + fffd + "\n");
    EXPECT_EQ(Parse("k=\xF4\x90\x80\x80"), "k=" + fffd + fffd + fffd + fffd + "\n");
    // A sequence cut off by the end of the file.
    EXPECT_EQ(Parse("k=\xF0\x9F\x98"), "k=" + fffd + "\n");
    EXPECT_EQ(ReadThroughFile("k=\xF0\x9F\x98"), "k=" + fffd + "\n");
}

TEST(ConfigReaderTest, ZeroBytesAreDroppedAndTheRestOfTheBlockKept) {
    EXPECT_EQ(Parse(std::string("ab\0cd=v\0w\n", 10)), "abcd=vw\n");
    // A file padded with zeros after a crash reads as its text.
    const std::string text = "a=1\nb=2\n";
    EXPECT_EQ(ReadThroughFile(text + std::string(3000, '\0')), text);
    // A zero inside a multibyte character breaks it like any other byte.
    EXPECT_EQ(Parse(std::string("k=\xD0\0x", 5)), "k=\xEF\xBF\xBDx\n");
}

TEST(ConfigReaderTest, LeadingByteOrderMarkIsSkippedOnlyAtTheStart) {
    EXPECT_EQ(ReadThroughFile("\xEF\xBB\xBF"
                              "DefaultVersion=8.3\n"),
              "DefaultVersion=8.3\n");
    // Elsewhere it is an ordinary character of the text.
    EXPECT_EQ(Parse("a=1\n\xEF\xBB\xBF"
                    "b=2\n"),
              "a=1\n\xEF\xBB\xBF"
              "b=2\n");
    EXPECT_EQ(Parse("\xEF\xBB\xBF\xEF\xBB\xBF"
                    "k=v"),
              "\xEF\xBB\xBF"
              "k=v\n");
    // A mark alone is an empty file.
    EXPECT_EQ(Parse("\xEF\xBB\xBF"), "");
}

TEST(ConfigReaderTest, LongKeysAndValuesHaveNoLengthLimit) {
    const std::string key(5000, 'K');
    const std::string value(9000, 'v');
    EXPECT_EQ(ReadThroughFile(key + "=" + value + "\n" + key + "\n"), key + "=" + value + "|\n");
}

TEST(ConfigReaderTest, OpenFileTakesUtf16PathsAndModes) {
    TempDir dir;
    WriteFile(dir / "файл.cfg", "x");
    std::FILE* file = OpenFile(U16(dir / "файл.cfg").c_str(), u"rb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(std::fgetc(file), 'x');
    std::fclose(file);
    EXPECT_EQ(OpenFile(U16(dir / "missing").c_str(), u"rb"), nullptr);
}

}  // namespace
