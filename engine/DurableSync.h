#pragma once

#include <set>
#include <vector>

#include "engine/fs/ErrorCodes.h"
#include "engine/fs/FileSystem.h"
#include "text/String.h"

// Makes what a run changed durable at the points its order needs
// (RunJournal.h), by the cheapest means the platform offers:
//   - where the whole file system can be synced in one call (syncfs(2)),
//     each point is that one call on a directory of the template's file
//     system, and nothing is synced file by file;
//   - elsewhere each staged file is synced as it is written (PerFile), and
//     each point syncs the files it is given (the journal), then every
//     directory whose entries changed since the last point, then asks the
//     device to write its own cache out (FlushDeviceCache: F_FULLFSYNC on
//     macOS, where fsync stops at the device's volatile cache).
// Used by one thread at a time.
template <class FS>
class DurableSync {
public:
    explicit DurableSync(FS& fileSystem) : m_fileSystem(fileSystem) {}

    // anchor: an open directory on the template's file system, open until
    // the last point.
    void Start(FileHandle anchor) {
        m_anchor = anchor;
        m_whole = m_fileSystem.CanSyncFileSystem();
        m_directories.clear();
    }

    // Whether every staged file must be synced before it is closed.
    bool PerFile() const { return !m_whole; }

    // A directory (absolute path, no trailing "/") whose entries the run
    // changed: made, renamed into or out of, removed from.
    void NoteDirectory(const stdx::u16string& directory) {
        if (!m_whole) {
            m_directories.insert(directory);
        }
    }

    // A noted directory that no longer exists (removed by the caller, whose
    // parent it noted instead).
    void ForgetDirectory(const stdx::u16string& directory) { m_directories.erase(directory); }

    // Makes every change so far durable: those on the whole file system, or
    // those of `files` and of every noted directory. 0, or the code of the
    // first sync that failed (the point then has not been reached).
    ErrorCode Point(const std::vector<FileHandle>& files) {
        if (m_whole) {
            ErrorCode code = kErrorSuccess;
            if (m_fileSystem.SyncFileSystem(m_anchor, &code)) {
                return code;
            }
            // The call went missing under us: the slow way from here on
            // cannot make up for files already closed unsynced.
            return kErrorInvalidParameter;
        }
        for (FileHandle file : files) {
            const ErrorCode code = m_fileSystem.Sync(file);
            if (code != kErrorSuccess) {
                return code;
            }
        }
        for (const stdx::u16string& directory : m_directories) {
            const ErrorCode code = m_fileSystem.SyncDirectory(directory);
            if (code != kErrorSuccess) {
                return code;
            }
        }
        m_directories.clear();
        return m_fileSystem.FlushDeviceCache(m_anchor);
    }

    // Makes one file durable (its data and times; its name must already be):
    // the journal's last record. 0 or the code of the failed sync.
    ErrorCode File(FileHandle file) {
        const ErrorCode code = m_fileSystem.Sync(file);
        return code != kErrorSuccess || m_whole ? code : m_fileSystem.FlushDeviceCache(file);
    }

private:
    FS& m_fileSystem;
    FileHandle m_anchor = kInvalidHandle;
    bool m_whole = false;
    std::set<stdx::u16string> m_directories;
};
