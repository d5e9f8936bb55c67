#pragma once

#include <cstddef>
#include <string>

#include "engine/RunJournal.h"
#include "engine/fs/ErrorCodes.h"
#include "engine/fs/FileSystem.h"
#include "engine/fs/PathNames.h"
#include "text/String.h"

// Appends a run's entries to its journal (RunJournal.h). Entries are
// gathered and written in one piece per batch: a run writes the entries of
// all its changes at once, before the first of them, so that one
// durability point covers them all. Making them durable is the caller's
// (DurableSync). Used by one thread at a time.
template <class FS>
class JournalWriter {
public:
    explicit JournalWriter(FS& fileSystem) : m_fileSystem(fileSystem) {}

    // The open journal (owned by the caller) that the header has been
    // written to.
    void Attach(FileHandle journal) {
        m_journal = journal;
        m_pending.clear();
        m_pendingCount = 0;
        m_written = 0;
    }
    FileHandle Handle() const { return m_journal; }

    // Adds an entry to the next batch, its path already in UTF-8.
    void Add(run_journal::Step step, const std::string& bytes) {
        run_journal::AppendRecordBytes(static_cast<char>(step), bytes.data(), bytes.size(),
                                       &m_pending);
        ++m_pendingCount;
    }
    void Add(run_journal::Step step, const stdx::u16string& path) {
        Add(step, path_names::Narrow(path));
    }

    // Writes the batch with one write. 0 or the code of FS::Write.
    ErrorCode Write() {
        if (m_pendingCount == 0) {
            return kErrorSuccess;
        }
        const ErrorCode code = run_journal::WriteRecords(m_fileSystem, m_journal, m_pending);
        if (code == kErrorSuccess) {
            m_written += m_pendingCount;
        }
        m_pending.clear();
        m_pendingCount = 0;
        return code;
    }

    // Entries written after the header.
    std::size_t Written() const { return m_written; }

private:
    FS& m_fileSystem;
    FileHandle m_journal = kInvalidHandle;
    std::string m_pending;
    std::size_t m_pendingCount = 0;
    std::size_t m_written = 0;
};
