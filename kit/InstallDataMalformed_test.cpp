#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kit/InstallData.h"
#include "kit/KitTestSupport.h"

using fs_test::ReadFile;
using fs_test::TempDir;
using fs_test::U16;
using fs_test::WriteFile;
using kit_test::Kit;
using kit_test::MultiStream;
using kit_test::ScopedTempRoot;
using kit_test::WriteKit;

namespace {

// Loads a kit made of `stream` and checks the failed state: a non-zero
// code, empty tables, no open stream and no stream file left.
class MalformedKit : public ::testing::Test {
protected:
    ErrorCode LoadStream(const std::string& stream) {
        WriteKit(m_dir / "kit", stream);
        return LoadFile(m_dir / "kit");
    }
    ErrorCode LoadFile(const std::string& path) {
        Kit kit;
        const ErrorCode code = kit.Load(U16(path));
        if (code != 0) {
            EXPECT_TRUE(kit.m_files.empty());
            EXPECT_TRUE(kit.m_products.empty());
            EXPECT_FALSE(kit.IsLoaded());
        }
        EXPECT_EQ(m_temp.StreamFiles(), 0u);
        return code;
    }
    // A stream whose single file record has the given record bytes.
    static std::string WithFileRecord(const std::string& record, const std::string& data = "") {
        std::string stream;
        kit::AppendU32(&stream, 1);
        kit::AppendU32(&stream, 0);
        kit::AppendU32(&stream, 1);
        return stream + record + data;
    }
    static std::string WithProductRecord(const std::string& record) {
        std::string stream;
        kit::AppendU32(&stream, 1);
        kit::AppendU32(&stream, 1);
        stream += record;
        kit::AppendU32(&stream, 0);
        return stream;
    }

    ScopedTempRoot m_temp;
    TempDir m_dir;
};

TEST_F(MalformedKit, EmptyKitFileInflatesToNothingAndFails) {
    WriteFile(m_dir / "empty", "");
    EXPECT_NE(LoadFile(m_dir / "empty"), 0u);
}

TEST_F(MalformedKit, NotDeflateCorruptBlockAndTruncatedStreamGive13) {
    WriteFile(m_dir / "text", "plain text, not compressed data: \xff\xff\xff\xff");
    EXPECT_EQ(LoadFile(m_dir / "text"), kErrorInflate);

    const std::string good =
        MultiStream({{u"en", u"P", u"V", u"d"}}, {{u"f", 1, kit_test::Pattern(100000, 5)}});
    WriteKit(m_dir / "good", good);
    std::string packed = ReadFile(m_dir / "good");
    // BFINAL set and the reserved block type 3.
    std::string corrupt = packed;
    corrupt[0] = static_cast<char>(0x07);
    WriteFile(m_dir / "corrupt", corrupt);
    EXPECT_EQ(LoadFile(m_dir / "corrupt"), kErrorInflate);

    WriteFile(m_dir / "cut", packed.substr(0, packed.size() / 2));
    EXPECT_EQ(LoadFile(m_dir / "cut"), kErrorInflate);
}

// Every proper prefix of a valid stream ends inside a field, a record or
// the data, and must fail without reading outside the stream.
TEST_F(MalformedKit, EveryTruncationOfTheStreamFails) {
    const std::string multi =
        MultiStream({{u"en", u"P", u"V", u"d"}}, {{u"a\\b", 1, "xyz"}, {u"c", 2, "q"}});
    for (std::size_t cut = 0; cut < multi.size(); ++cut) {
        EXPECT_NE(LoadStream(multi.substr(0, cut)), 0u) << "multi cut at " << cut;
    }
    std::string single;
    kit::AppendU32(&single, 0);
    kit::AppendString(&single, u"Name");
    kit::AppendString(&single, u"Prov");
    kit::AppendString(&single, u"doc");
    kit::AppendU32(&single, 1);
    kit::AppendFileRecord(&single, u"f", 1, 0, 2);
    single += "ok";
    for (std::size_t cut = 0; cut < single.size(); ++cut) {
        EXPECT_NE(LoadStream(single.substr(0, cut)), 0u) << "single cut at " << cut;
    }
    EXPECT_EQ(LoadStream(single), 0u);
    EXPECT_EQ(LoadStream(multi), 0u);
}

TEST_F(MalformedKit, RecordLengthBelowFour) {
    for (std::uint32_t length = 0; length < 4; ++length) {
        std::string record;
        kit::AppendU32(&record, length);
        record.append(40, '\0');
        EXPECT_EQ(LoadStream(WithProductRecord(record)), kErrorInflate) << length;
        EXPECT_EQ(LoadStream(WithFileRecord(record)), kErrorInflate) << length;
    }
}

TEST_F(MalformedKit, StringsRunningPastTheRecordLength) {
    std::string record;
    kit::AppendProductRecord(&record, {u"en", u"Product", u"Vendor", u"doc"});
    // Claim a shorter record: the description string now runs past it, and
    // the bytes cut off become the next field.
    std::string shortened = record;
    shortened[0] = static_cast<char>(record.size() - 4);
    EXPECT_EQ(LoadStream(WithProductRecord(shortened)), kErrorInflate);

    std::string body;
    kit::AppendU32(&body, 1000);  // a language of 1000 units in a 20-byte record
    body.append(12, '\0');
    std::string tooLong;
    kit::AppendU32(&tooLong, static_cast<std::uint32_t>(body.size() + 4));
    EXPECT_EQ(LoadStream(WithProductRecord(tooLong + body)), kErrorInflate);
}

TEST_F(MalformedKit, FileRecordShorterThanItsNameAndFixedFields) {
    std::string record;
    kit::AppendFileRecord(&record, u"name", 1, 0, 0);
    for (std::uint32_t missing = 1; missing <= 16; missing += 5) {
        std::string shortened = record;
        shortened[0] = static_cast<char>(record.size() - missing);
        EXPECT_EQ(LoadStream(WithFileRecord(shortened)), kErrorInflate) << missing;
    }
}

TEST_F(MalformedKit, BodyTooLargeFailsWithoutAllocatingIt) {
    std::string record;
    kit::AppendU32(&record, 0xFFFFFFFFu);
    record.append(100, 'x');
    EXPECT_EQ(LoadStream(WithProductRecord(record)), kErrorInflate);
    EXPECT_EQ(LoadStream(WithFileRecord(record)), kErrorInflate);

    std::string huge;
    kit::AppendU32(&huge, 0);
    kit::AppendU32(&huge, 0x7FFFFFFFu);  // a product name of 4 GiB
    EXPECT_EQ(LoadStream(huge), kErrorInflate);
}

TEST_F(MalformedKit, CountsBeyondTheStreamEndQuickly) {
    std::string stream;
    kit::AppendU32(&stream, 1);
    kit::AppendU32(&stream, 0xFFFFFFFFu);
    kit::AppendProductRecord(&stream, {u"en", u"", u"", u""});
    EXPECT_EQ(LoadStream(stream), kErrorInflate);
}

TEST_F(MalformedKit, DataRangesPastTheEndOfTheStream) {
    std::string record;
    kit::AppendFileRecord(&record, u"f", 1, 0, 6);
    EXPECT_EQ(LoadStream(WithFileRecord(record, "12345")), kErrorInflate);
    EXPECT_EQ(LoadStream(WithFileRecord(record, "123456")), 0u);
    // Offsets that would wrap around 4 GiB back into the stream.
    record.clear();
    kit::AppendFileRecord(&record, u"f", 1, 0xFFFFFFF0u, 1);
    EXPECT_EQ(LoadStream(WithFileRecord(record, std::string(64, 'x'))), kErrorInflate);
    record.clear();
    kit::AppendFileRecord(&record, u"f", 1, 2, 0xFFFFFFFFu);
    EXPECT_EQ(LoadStream(WithFileRecord(record, std::string(64, 'x'))), kErrorInflate);
}

TEST_F(MalformedKit, UnsafeNamesFailTheLoadAndNothingIsWritten) {
    const char16_t withZero[] = {u'o', u'k', u'\0', u'x'};
    const std::vector<stdx::u16string> names = {u"",          u"\\abs",
                                                u"/abs",      u"C:\\x",
                                                u"..",        u"sub\\..\\..\\escape",
                                                u"a/../../b", stdx::u16string(withZero, 4)};
    for (const stdx::u16string& name : names) {
        EXPECT_EQ(LoadStream(MultiStream({}, {{u"fine", 1, "f"}, {name, 1, "evil"}})),
                  kErrorInflate)
            << fs_test::U8(name);
    }
    EXPECT_EQ(fs_test::CountEntries(m_dir.path()), 1u) << "only the kit itself";
}

TEST_F(MalformedKit, RecordsWithLargeExtrasAreSkippedWithinTheStream) {
    std::string stream;
    kit::AppendU32(&stream, 1);
    kit::AppendU32(&stream, 1);
    kit::AppendProductRecord(&stream, {u"en", u"P", u"V", u"d"}, 3 * 1024 * 1024);
    kit::AppendU32(&stream, 1);
    kit::AppendFileRecord(&stream, u"f", 1, 0, 2, 2 * 1024 * 1024 + 1);
    stream += "ok";
    EXPECT_EQ(LoadStream(stream), 0u);
}

}  // namespace
