// Undoing a run whose replacements were exchanged with the earlier copies:
// whatever a cut kept of an exchange, the earlier copy is found and put
// back, and where nothing tells which copy is which, nothing is guessed.

#include "engine/RunUndo.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/InstallTestSupport.h"
#include "engine/RunJournal.h"
#include "engine/RunRecovery.h"

using namespace install_test;

namespace {

// A file as a case leaves it: its bytes and time; no bytes, no file.
struct Copy {
    const char* bytes;
    std::int64_t seconds;
};
const Copy kNone = {nullptr, 0};
const Copy kEarlier = {"old copy", kBaseSeconds - 100};
const Copy kStaged = {"new copy", kBaseSeconds};
// What a cut before the staged copy was durable may leave of it.
const Copy kStagedEmpty = {"", kBaseSeconds};
const Copy kStagedPart = {"new", kBaseSeconds + 30};

class ExchangeUndoTest : public InstallDirsTest {
protected:
    // A run in TMPDIR that replaced sub/a.cfg by exchanging it with its
    // staged copy stage/0/7, its journal cut before "C".
    void Plant(const Copy& stage, const Copy& target, const Copy& backup) {
        std::filesystem::remove_all(m_runDir);
        std::filesystem::remove_all(m_target);
        std::filesystem::create_directories(m_runDir + "/files");
        std::filesystem::create_directories(m_runDir + "/stage/0");
        std::filesystem::create_directories(m_target + "/sub");
        const std::vector<std::pair<std::string, Copy>> files = {
            {m_runDir + "/stage/0/7", stage},
            {m_target + "/sub/a.cfg", target},
            {m_runDir + "/files/sub/a.cfg", backup}};
        for (const auto& file : files) {
            if (file.second.bytes != nullptr) {
                WriteFile(file.first, file.second.bytes, file.second.seconds);
            }
        }
        run_journal::Header header;
        header.targetDir = U16(m_target + "/");
        header.backupDir = U16(m_runDir + "/files/");
        header.tag = u"0123456789abcdef";
        run_journal::Entry exchange{run_journal::Step::Exchange, u"sub/a.cfg"};
        exchange.stage = u"0/7";
        exchange.seconds = kStaged.seconds;
        exchange.size = std::string(kStaged.bytes).size();
        WriteFile(m_runDir + "/journal",
                  run_journal::EncodeHeader(header) + run_journal::EncodeEntry(exchange));
        for (const std::string& directory :
             {m_runDir, m_runDir + "/files", m_runDir + "/stage", m_runDir + "/stage/0"}) {
            ::chmod(directory.c_str(), 0700);
        }
        ::chmod((m_runDir + "/journal").c_str(), 0600);
    }

    std::string m_runDir = m_root.path() + "/tmp/qrstp3";
};

TEST_F(ExchangeUndoTest, TheEarlierCopyComesBackWhateverACutKept) {
    const struct {
        const char* what;
        Copy stage;
        Copy target;
        Copy backup;
        bool undone;
    } cases[] = {
        {"exchanged", kEarlier, kStaged, kNone, true},
        {"the exchange lost", kStaged, kEarlier, kNone, true},
        {"the file system refused: two renames through the backup", kNone, kStaged, kEarlier, true},
        {"refused, and the rename into place lost", kStaged, kNone, kEarlier, true},
        {"cut before the staged copy was durable: its time, no bytes", kStagedEmpty, kEarlier,
         kNone, true},
        {"cut before the staged copy was durable: part of it", kStagedPart, kEarlier, kNone, true},
        {"exchanged, and the installed copy removed since", kEarlier, kNone, kNone, true},
        {"both sides look like the staged copy", kStaged, kStaged, kNone, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Plant(c.stage, c.target, c.backup);
        const Tree before = Snapshot(m_target);
        FileSystem fileSystem;
        const RecoveryResult result =
            run_recovery::RecoverRuns(fileSystem, {U16(m_target)}, nullptr);
        if (c.undone) {
            EXPECT_EQ(result.restored, 1);
            EXPECT_TRUE(result.keptBackups.empty());
            EXPECT_EQ(ReadFile(m_target + "/sub/a.cfg"), kEarlier.bytes);
            EXPECT_EQ(Mtime(m_target + "/sub/a.cfg"), kEarlier.seconds);
            EXPECT_FALSE(Exists(m_runDir));
        } else {
            // Kept as it is, for the user and the next start.
            EXPECT_EQ(result.restored, 0);
            EXPECT_EQ(result.keptBackups.size(), 1u);
            EXPECT_EQ(Snapshot(m_target), before);
            EXPECT_EQ(ReadFile(m_runDir + "/stage/0/7"), kStaged.bytes);
        }
    }
}

// Every kind of entry reads back as written; an exchange whose bytes are
// not whole ends the journal there, as a record cut short does.
TEST(RunJournalRecords, ReadBackAsWrittenUpToTheFirstMalformedOne) {
    run_journal::Header header;
    header.targetDir = u"/t/";
    header.backupDir = u"/b/";
    header.tag = u"x";
    run_journal::Entry exchange{run_journal::Step::Exchange, u"a folder/a b.cfg"};
    exchange.stage = u"1/12";
    exchange.seconds = -86400;
    exchange.size = 12345678901ULL;
    const std::vector<run_journal::Entry> written = {{run_journal::Step::Directory, u"/t/d"},
                                                     {run_journal::Step::NewFile, u"n.cfg"},
                                                     {run_journal::Step::Replace, u"r.cfg"},
                                                     {run_journal::Step::Overwrite, u"o.cfg"},
                                                     exchange,
                                                     {run_journal::Step::Complete, u""}};
    std::string bytes = run_journal::EncodeHeader(header);
    for (const run_journal::Entry& entry : written) {
        bytes += run_journal::EncodeEntry(entry);
    }
    run_journal::Header read;
    std::vector<run_journal::Entry> entries;
    ASSERT_TRUE(run_journal::Decode(bytes, &read, &entries));
    ASSERT_EQ(entries.size(), written.size());
    for (std::size_t i = 0; i < written.size(); ++i) {
        EXPECT_EQ(entries[i].step, written[i].step);
        EXPECT_EQ(entries[i].path, written[i].path);
        EXPECT_EQ(entries[i].stage, written[i].stage);
        EXPECT_EQ(entries[i].seconds, written[i].seconds);
        EXPECT_EQ(entries[i].size, written[i].size);
    }

    for (const char* malformed : {"1 2 0/1", "1 2  a", "x 2 0/1 a", "1 -2 0/1 a", "1 2 0/1 "}) {
        SCOPED_TRACE(malformed);
        std::string cut = run_journal::EncodeHeader(header);
        run_journal::AppendRecordBytes('N', "n", 1, &cut);
        run_journal::AppendRecordBytes('E', malformed, std::string(malformed).size(), &cut);
        run_journal::AppendRecordBytes('N', "m", 1, &cut);
        ASSERT_TRUE(run_journal::Decode(cut, &read, &entries));
        EXPECT_EQ(entries.size(), 1u);
    }
}

}  // namespace
