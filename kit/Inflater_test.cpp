#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "kit/KitTestSupport.h"
#include "kit/LZCompressor.h"

using fs_test::ReadFile;
using fs_test::TempDir;

namespace {

// The inflate policies on their own, fed and drained in pieces far smaller
// than the kit reader uses: block headers, stored lengths and copies then
// straddle every boundary, on the input and on the output side.
template <class Inflater>
class InflaterTest : public ::testing::Test {
protected:
    std::string Deflated(const std::string& stream, int level) {
        kit_test::WriteKit(m_dir / "packed", stream, level);
        return ReadFile(m_dir / "packed");
    }

    // Inflates `packed` in input pieces of `inputStep` bytes and output
    // pieces of `outputStep` bytes; returns the last status.
    static InflateStatus InflateInPieces(const std::string& packed, std::size_t inputStep,
                                         std::uint32_t outputStep, std::string* out) {
        Inflater inflater;
        std::string buffer(outputStep, '\0');
        InflateStatus status = InflateStatus::kNeedInput;
        for (std::size_t offset = 0; offset < packed.size(); offset += inputStep) {
            const std::size_t count = std::min(inputStep, packed.size() - offset);
            inflater.SetInput(packed.data() + offset, static_cast<std::uint32_t>(count));
            do {
                std::uint32_t produced = 0;
                status = inflater.Inflate(reinterpret_cast<unsigned char*>(&buffer[0]), outputStep,
                                          &produced);
                EXPECT_LE(produced, outputStep);
                out->append(buffer, 0, produced);
            } while (status == InflateStatus::kOutputFull);
            if (status == InflateStatus::kEnd || status == InflateStatus::kError) {
                break;
            }
        }
        return status;
    }

    TempDir m_dir;
};

using InflatePolicies = ::testing::Types<ZlibInflater
#ifdef QA_HAVE_ISAL
                                         ,
                                         IsalInflater
#endif
                                         >;
TYPED_TEST_SUITE(InflaterTest, InflatePolicies);

TYPED_TEST(InflaterTest, TinyPiecesGiveTheSameBytes) {
    std::string text;
    for (int i = 0; text.size() < 150000; ++i) {
        text += "key" + std::to_string(i % 977) + " = value" + std::to_string(i % 61) + "\n";
    }
    const std::string random = kit_test::Pattern(70000, 9);
    const struct {
        const char* name;
        std::string stream;
        int level;
        std::size_t inputStep;
        std::uint32_t outputStep;
    } cases[] = {
        {"text, one byte in", text, 9, 1, 4096},
        {"text, one byte out", text.substr(0, 40000), 6, 4096, 1},
        {"text, odd pieces", text, 6, 7, 13},
        {"stored, odd pieces", random, 0, 5, 3},
        {"random, odd pieces", random, 1, 3, 7},
    };
    for (const auto& c : cases) {
        const std::string packed = this->Deflated(c.stream, c.level);
        std::string out;
        EXPECT_EQ(this->InflateInPieces(packed, c.inputStep, c.outputStep, &out),
                  InflateStatus::kEnd)
            << c.name;
        EXPECT_TRUE(out == c.stream)
            << c.name << ": " << out.size() << " of " << c.stream.size() << " bytes";
    }
}

TYPED_TEST(InflaterTest, EndAndErrorAreFinal) {
    const std::string packed = this->Deflated("final answer", 6);
    TypeParam ended;
    unsigned char out[64];
    std::uint32_t produced = 0;
    ended.SetInput(packed.data(), static_cast<std::uint32_t>(packed.size()));
    ASSERT_EQ(ended.Inflate(out, sizeof(out), &produced), InflateStatus::kEnd);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), produced), "final answer");
    ended.SetInput(packed.data(), static_cast<std::uint32_t>(packed.size()));
    EXPECT_EQ(ended.Inflate(out, sizeof(out), &produced), InflateStatus::kEnd);
    EXPECT_EQ(produced, 0u);

    TypeParam failed;
    const std::string reserved("\x07\x00\x00\x00", 4);  // BFINAL and block type 3
    failed.SetInput(reserved.data(), static_cast<std::uint32_t>(reserved.size()));
    EXPECT_EQ(failed.Inflate(out, sizeof(out), &produced), InflateStatus::kError);
    failed.SetInput(packed.data(), static_cast<std::uint32_t>(packed.size()));
    EXPECT_EQ(failed.Inflate(out, sizeof(out), &produced), InflateStatus::kError);
    EXPECT_EQ(produced, 0u);
}

}  // namespace
