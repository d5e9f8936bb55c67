// Files read from a kit while it inflates, through the window in memory
// that keeps each byte only until its read has written it: two readers at
// once, as an installation's writers read, files larger than the window,
// reads that end early, and the orders a window cannot take.

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "kit/InstallData.h"
#include "kit/KitTestSupport.h"
#include "kit/StreamWindow.h"

using fs_test::ReadFile;
using fs_test::TempDir;
using fs_test::U16;
using kit_test::Pattern;
using kit_test::ScopedTempRoot;
using test_support::BuildKit;
using test_support::KitFile;

namespace {

// Counts the bytes moved into files, by writes and by copies between files:
// through a window each file byte moves once, through the stream file twice.
struct CountingFileSystem : FileSystem {
    std::atomic<std::uint64_t>* moved = nullptr;

    ErrorCode Write(FileHandle handle, const void* buffer, std::uint32_t count,
                    std::uint32_t* countWritten) {
        *moved += count;
        return FileSystem::Write(handle, buffer, count, countWritten);
    }
    bool CopyRangeAt(FileHandle source, std::uint64_t offset, FileHandle target,
                     std::uint32_t count, std::uint32_t* copied, ErrorCode* code) {
        const bool done = FileSystem::CopyRangeAt(source, offset, target, count, copied, code);
        *moved += done ? *copied : 0;
        return done;
    }
};
using CountingKit = InstallData<LZCompressor, CountingFileSystem>;

class StreamWindowTest : public ::testing::Test {
protected:
    // Small files around two larger than the window, which wrap round it,
    // and an empty one, which has no bytes to wait for.
    void SetUp() override {
        const std::size_t large = kit::StreamWindow::kBytes * 2 + 12345;
        for (unsigned i = 0; i < 40; ++i) {
            const bool isLarge = i == 5 || i == 30;
            const std::size_t size = isLarge ? large : i == 8 ? 0 : 1000 + 997 * i;
            m_files.push_back({"f" + std::to_string(i) + ".bin", Pattern(size, i), 1600000000});
            m_bytes += m_files.back().bytes.size();
        }
        ASSERT_EQ(BuildKit(m_dir / "qarn.pkd", m_files), "");
        m_fileSystem.moved = &m_moved;
    }

    // Writes the records of `reads` on two threads, each taking every other
    // run of four in order, as the installer's writers take chunks. The
    // codes by record; files that were not stopped are checked.
    std::vector<ErrorCode> ReadOnTwoThreads(CountingKit& kit, const std::vector<std::size_t>& reads,
                                            std::size_t stopAt = SIZE_MAX) {
        std::vector<ErrorCode> codes(m_files.size(), kErrorSuccess);
        auto writer = [&](std::size_t parity) {
            std::unique_ptr<char[]> buffer(new char[CountingKit::kBufferBytes]);
            for (std::size_t n = 0; n < reads.size(); ++n) {
                if ((n / 4) % 2 != parity) {
                    continue;
                }
                const std::size_t index = reads[n];
                FileHandle target = kInvalidHandle;
                const std::string path = m_dir / ("out" + std::to_string(index));
                ASSERT_EQ(m_fileSystem.Open(U16(path), kAccessWrite, 0, kDispositionCreate, &target,
                                            kAttributeNormal),
                          kErrorSuccess);
                // Record stopAt stops after its first piece.
                codes[index] = kit.WriteFileTo(
                    index, target,
                    [index, stopAt, asked = 0]() mutable { return index == stopAt && asked++ > 0; },
                    buffer.get());
                m_fileSystem.Close(target);
            }
        };
        std::thread other(writer, 1);
        writer(0);
        other.join();
        return codes;
    }

    void ExpectWritten(const std::vector<std::size_t>& indices) {
        for (std::size_t index : indices) {
            // Compared whole: a failure would print megabytes otherwise.
            EXPECT_TRUE(ReadFile(m_dir / ("out" + std::to_string(index))) == m_files[index].bytes)
                << index;
        }
    }

    ScopedTempRoot m_temp;
    TempDir m_dir;
    std::vector<KitFile> m_files;
    std::uint64_t m_bytes = 0;
    std::atomic<std::uint64_t> m_moved{0};
    CountingFileSystem m_fileSystem;
};

// Every file read once through the window, or some of them, or in an order
// the window cannot take: the bytes are right whichever way they went, and
// only the window spares the second copy.
TEST_F(StreamWindowTest, ReadersGetEveryByteWhicheverWayTheDataGoes) {
    std::vector<std::size_t> all;
    for (std::size_t i = 0; i < m_files.size(); ++i) {
        all.push_back(i);
    }
    std::vector<std::size_t> some;
    std::uint64_t someBytes = 0;
    for (std::size_t i = 0; i < m_files.size(); i += 3) {
        some.push_back(i);
        someBytes += m_files[i].bytes.size();
    }
    std::vector<std::size_t> backwards(all.rbegin(), all.rend());
    struct Case {
        const char* name;
        std::vector<std::size_t> reads;
        std::uint64_t readBytes;
        bool windowed;
    };
    const Case cases[] = {
        {"all, in kit order", all, m_bytes, true},
        {"every third", some, someBytes, true},
        {"all, backwards", backwards, m_bytes, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CountingKit kit(m_fileSystem);
        ASSERT_EQ(kit.Begin(U16(m_dir / "qarn.pkd")), kErrorSuccess);
        kit.WantFiles(c.reads);
        m_moved = 0;
        const std::vector<ErrorCode> codes = ReadOnTwoThreads(kit, c.reads);
        kit.EndReads();
        ASSERT_EQ(kit.FinishLoad(), kErrorSuccess);
        for (std::size_t index : c.reads) {
            EXPECT_EQ(codes[index], kErrorSuccess) << index;
        }
        ExpectWritten(c.reads);
        // Up to a piece inflated before the reads were told (counted or
        // not) goes through the stream file either way.
        if (c.windowed) {
            EXPECT_LT(m_moved.load(), c.readBytes + (2u << 20));
        } else {
            EXPECT_GT(m_moved.load(), 2 * c.readBytes - (2u << 20));
        }
    }
}

// A read that ends early lets its bytes go, so the others and the inflation
// end; a record the window was not told of is refused; reads still waiting
// when the reads are given up end with 1223.
TEST_F(StreamWindowTest, ReadsThatEndEarlyOrWereNotAnnouncedBlockNothing) {
    std::vector<std::size_t> reads;
    for (std::size_t i = 0; i < m_files.size(); i += 2) {
        reads.push_back(i);
    }
    {
        CountingKit kit(m_fileSystem);
        ASSERT_EQ(kit.Begin(U16(m_dir / "qarn.pkd")), kErrorSuccess);
        kit.WantFiles(reads);
        // Record 30 is larger than the window: the reader behind it would
        // wait for ever were its bytes kept.
        const std::vector<ErrorCode> codes = ReadOnTwoThreads(kit, reads, 30);
        EXPECT_EQ(codes[30], kErrorCancelled);
        FileHandle target = kInvalidHandle;
        ASSERT_EQ(m_fileSystem.Open(U16(m_dir / "unannounced"), kAccessWrite, 0, kDispositionCreate,
                                    &target, kAttributeNormal),
                  kErrorSuccess);
        EXPECT_EQ(kit.WriteFileTo(1, target, [] { return false; }), kErrorInvalidParameter);
        m_fileSystem.Close(target);
        kit.EndReads();
        ASSERT_EQ(kit.FinishLoad(), kErrorSuccess);
        for (std::size_t index : reads) {
            if (index != 30) {
                EXPECT_EQ(codes[index], kErrorSuccess) << index;
                ExpectWritten({index});
            }
        }
    }
    {
        // The last file is waited for while the first read never comes: its
        // reader is let go once the reads are given up.
        CountingKit kit(m_fileSystem);
        ASSERT_EQ(kit.Begin(U16(m_dir / "qarn.pkd")), kErrorSuccess);
        kit.WantFiles({5, 30, 39});
        ErrorCode late = kErrorSuccess;
        std::thread reader([&] {
            FileHandle target = kInvalidHandle;
            ASSERT_EQ(m_fileSystem.Open(U16(m_dir / "late"), kAccessWrite, 0, kDispositionCreate,
                                        &target, kAttributeNormal),
                      kErrorSuccess);
            late = kit.WriteFileTo(39, target, [] { return false; });
            m_fileSystem.Close(target);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        kit.EndReads();
        reader.join();
        EXPECT_EQ(late, kErrorCancelled);
        EXPECT_EQ(kit.FinishLoad(), kErrorSuccess);
    }
}

// Which orders of reads a window can take.
TEST(StreamWindowOrder, ReadsMustFollowTheStream) {
    using Range = kit::StreamWindow::Range;
    struct Case {
        const char* name;
        std::vector<Range> ranges;
        bool fits;
    };
    const Case cases[] = {
        {"none", {}, true},
        {"ascending with gaps", {{0, 10}, {10, 20}, {25, 30}}, true},
        {"empty reads anywhere", {{0, 10}, {3, 3}, {10, 12}, {0, 0}}, true},
        {"descending", {{10, 20}, {0, 10}}, false},
        {"overlapping", {{0, 10}, {5, 15}}, false},
        {"the same bytes twice", {{0, 10}, {0, 10}}, false},
        {"an end before its start", {{10, 5}}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(kit::StreamWindow::Fits(c.ranges), c.fits) << c.name;
    }
}

}  // namespace
