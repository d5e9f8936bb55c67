#include "kit/KitRecords.h"

#include <string>

#include <gtest/gtest.h>

namespace {

const unsigned char* Bytes(const std::string& text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

TEST(KitRecords, ProductRecordRoundTripWithExtraBytes) {
    config::ProductInfo product{u"de", u"Vorlagen", u"Anbieter", u"doc\\readme.html"};
    std::string record;
    kit::AppendProductRecord(&record, product, 7);
    ASSERT_EQ(kit::LoadU32(Bytes(record)), record.size());
    EXPECT_EQ(record.size(), 20u + 2 * (2 + 8 + 8 + 15) + 7);
    config::ProductInfo decoded;
    ASSERT_TRUE(kit::DecodeProductRecord(Bytes(record) + 4, record.size() - 4, &decoded));
    EXPECT_EQ(decoded.m_language, u"de");
    EXPECT_EQ(decoded.m_productName, u"Vorlagen");
    EXPECT_EQ(decoded.m_providerName, u"Anbieter");
    EXPECT_EQ(decoded.m_descriptionPath, u"doc\\readme.html");
}

TEST(KitRecords, FileRecordLayout) {
    std::string record;
    kit::AppendFileRecord(&record, u"a\\b", 0x0102030405060708ull, 0x11223344, 0x55667788);
    ASSERT_EQ(record.size(), 24u + 2 * 3);
    const unsigned char* bytes = Bytes(record);
    EXPECT_EQ(kit::LoadU32(bytes), 30u);
    EXPECT_EQ(kit::LoadU32(bytes + 4), 3u);
    EXPECT_EQ(bytes[8], 'a');
    EXPECT_EQ(bytes[9], 0);
    EXPECT_EQ(bytes[10], '\\');
    EXPECT_EQ(kit::LoadU64(bytes + 14), 0x0102030405060708ull);
    EXPECT_EQ(kit::LoadU32(bytes + 22), 0x11223344u);
    EXPECT_EQ(kit::LoadU32(bytes + 26), 0x55667788u);

    config::FileData<FileSystem> file;
    ASSERT_TRUE(kit::DecodeFileRecord(bytes + 4, record.size() - 4, &file));
    EXPECT_EQ(file.m_name, u"a\\b");
    EXPECT_EQ(file.m_lastWriteTime, 0x0102030405060708ull);
    EXPECT_EQ(file.m_offset, 0x11223344u);
    EXPECT_EQ(file.m_size, 0x55667788u);
}

// Every body cut short of its known fields fails; a heap checker catches
// any read past the copy made for each length.
TEST(KitRecords, EveryTruncatedBodyIsRefused) {
    std::string product;
    kit::AppendProductRecord(&product, config::ProductInfo{u"en", u"P", u"V", u"d"});
    std::string file;
    kit::AppendFileRecord(&file, u"name", 1, 2, 3);
    for (std::size_t cut = 0; cut < product.size() - 4; ++cut) {
        const std::string body = product.substr(4, cut);
        config::ProductInfo decoded;
        EXPECT_FALSE(kit::DecodeProductRecord(Bytes(body), body.size(), &decoded)) << cut;
    }
    for (std::size_t cut = 0; cut < file.size() - 4; ++cut) {
        const std::string body = file.substr(4, cut);
        config::FileData<FileSystem> decoded;
        EXPECT_FALSE(kit::DecodeFileRecord(Bytes(body), body.size(), &decoded)) << cut;
    }
}

TEST(KitRecords, HugeStringCountDoesNotWrap) {
    std::string body;
    kit::AppendU32(&body, 0x80000001u);  // 2 * count wraps to 2 in 32 bits
    body.append("xx");
    std::size_t position = 0;
    stdx::u16string text;
    EXPECT_FALSE(kit::DecodeString(Bytes(body), body.size(), &position, &text));
    EXPECT_EQ(position, 0u);
}

}  // namespace
