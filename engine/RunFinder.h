#pragma once

#include <unistd.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/RunJournal.h"
#include "engine/RunNames.h"
#include "engine/RunPlace.h"
#include "engine/fs/ErrorCodes.h"
#include "engine/fs/FileSystem.h"
#include "engine/fs/PathNames.h"
#include "text/String.h"

// Finding the runs that a process left unfinished (killed, crashed, cut
// off by a power loss), for the recovery at start-up.
//
// Where it looks. A run directory lies either in the temporary directory
// ("qrstp<N>"), or hidden in its template directory or, for a template
// directory that did not exist yet, in its nearest existing ancestor
// (".qa-<tag>.run"; RunJournal.h). A start therefore lists its temporary
// directory and, for each template location it knows (those of the launcher
// files, the default one, the one given on the command line), the location
// itself and each existing level above it that the user may write: a few
// small directory listings, whatever the template directories hold below
// their top level. A run made under another TMPDIR into a location this
// start does not know is found by a start that knows either.
//
// What it trusts. A run directory, its journal and its backup directory may
// sit in a folder others can write (a shared template directory): a run is
// acted on only when all three belong to the user running the installer
// and nobody else may write them, and its header names a template
// directory at or below the folder that holds a hidden run directory.
// Anything else is left alone and reported, never obeyed. A run whose
// journal another process holds locked is alive and is left alone too.
namespace run_finder {

// One interrupted run, its journal open and locked by this process until
// closed.
struct FoundRun {
    stdx::u16string runDir;  // ends with "/"
    FileHandle journal = kInvalidHandle;
    run_journal::Header header;
    std::vector<run_journal::Entry> entries;
};

namespace detail {

inline bool OwnedAndPrivate(const FileStatus& status, FileType type) {
    return status.type == type && status.owner == static_cast<std::uint32_t>(::geteuid()) &&
           (status.mode & 022) == 0;
}

inline bool MayWrite(const FileStatus& status) {
    return ::geteuid() == 0 || status.owner == static_cast<std::uint32_t>(::geteuid()) ||
           (status.mode & 022) != 0;
}

}  // namespace detail

template <class FS>
class RunFinder {
public:
    explicit RunFinder(FS& fileSystem) : m_fileSystem(fileSystem) {}

    // The interrupted runs of this user, looked for in tempDir and around
    // `locations` (absolute template directories; others are passed over).
    // With removeLeftovers, run directories whose journal never got a
    // complete header (their run changed nothing in a template directory)
    // are removed. Run directories left alone as not the user's own are
    // added to *refused.
    std::vector<FoundRun> Find(const stdx::u16string& tempDir,
                               const std::vector<stdx::u16string>& locations, bool removeLeftovers,
                               std::vector<stdx::u16string>* refused) {
        std::vector<FoundRun> runs;
        ExamineFolder(path_names::WithoutTrailingSlash(tempDir), true, removeLeftovers, &runs,
                      refused);
        std::set<stdx::u16string> folders;
        for (const stdx::u16string& location : locations) {
            if (location.empty() || location.front() != u'/') {
                continue;
            }
            stdx::u16string level = path_names::WithoutTrailingSlash(location);
            for (;;) {
                folders.insert(level);
                if (level == u"/") {
                    break;
                }
                level = path_names::ParentOf(level);
            }
        }
        folders.erase(path_names::WithoutTrailingSlash(tempDir));
        for (const stdx::u16string& folder : folders) {
            ExamineFolder(folder, false, removeLeftovers, &runs, refused);
        }
        return runs;
    }

private:
    // Looks at the run directories in one folder: "qrstp<N>" in the
    // temporary directory, hidden ones elsewhere.
    void ExamineFolder(const stdx::u16string& folder, bool temporary, bool removeLeftovers,
                       std::vector<FoundRun>* runs, std::vector<stdx::u16string>* refused) {
        FileStatus status;
        // The folder itself may be reached through a link the user made;
        // only folders the user may write can hold a run of theirs.
        if (m_fileSystem.Status(folder, &status) != kErrorSuccess ||
            (status.type != FileType::Directory && status.type != FileType::Link) ||
            (status.type == FileType::Directory && !temporary && !detail::MayWrite(status))) {
            return;
        }
        FileHandle handle = kInvalidHandle;
        std::vector<std::string> names;
        if (m_fileSystem.OpenDirectoryAt(kInvalidHandle, path_names::Narrow(folder), &handle) !=
            kErrorSuccess) {
            return;
        }
        const ErrorCode listed = m_fileSystem.ListDirectory(handle, &names);
        m_fileSystem.Close(handle);
        if (listed != kErrorSuccess) {
            return;
        }
        // Hidden run directories may lie in the temporary directory too,
        // when a template directory to be made lies below it.
        std::vector<std::pair<stdx::u16string, bool>> candidates;
        for (const std::string& name : names) {
            const bool inTemp = temporary && run_names::IsTempRunName(path_names::Wide(name));
            if (inTemp || run_names::IsHiddenRunName(name)) {
                candidates.emplace_back(
                    path_names::WithTrailingSlash(folder) + path_names::Wide(name), inTemp);
            }
        }
        if (candidates.empty()) {
            return;
        }
        // Held while run directories here are looked at: a run being made
        // holds it until its journal is locked.
        const FileHandle lock = run_place::LockDirectory(m_fileSystem, folder);
        for (const auto& candidate : candidates) {
            Examine(candidate.first, folder, candidate.second, removeLeftovers, runs, refused);
        }
        if (lock != kInvalidHandle) {
            m_fileSystem.Close(lock);
        }
    }

    void Examine(const stdx::u16string& runDir, const stdx::u16string& folder, bool temporary,
                 bool removeLeftovers, std::vector<FoundRun>* runs,
                 std::vector<stdx::u16string>* refused) {
        FileStatus status;
        if (m_fileSystem.Status(runDir, &status) != kErrorSuccess ||
            status.type != FileType::Directory) {
            return;
        }
        if (!detail::OwnedAndPrivate(status, FileType::Directory)) {
            refused->push_back(runDir);
            return;
        }
        const stdx::u16string journalPath = runDir + u"/" + run_names::kJournalName;
        FileStatus journalStatus;
        if (m_fileSystem.Status(journalPath, &journalStatus) != kErrorSuccess) {
            return;
        }
        if (journalStatus.type == FileType::Missing) {
            // The folder's lock is held while a run directory is made and its
            // journal locked, so this one's maker is gone before it changed
            // anything.
            if (removeLeftovers) {
                RemoveLeftover(runDir);
            }
            return;
        }
        if (!detail::OwnedAndPrivate(journalStatus, FileType::Regular)) {
            refused->push_back(runDir);
            return;
        }
        FoundRun run;
        run.runDir = runDir + u"/";
        if (m_fileSystem.Open(journalPath, kAccessRead, 0, kDispositionOpenExisting, &run.journal,
                              kAttributeNormal) != kErrorSuccess) {
            return;
        }
        FileStatus opened;
        if (m_fileSystem.HandleStatus(run.journal, &opened, nullptr) != kErrorSuccess ||
            opened.inode != journalStatus.inode || opened.device != journalStatus.device ||
            m_fileSystem.Lock(run.journal, false) != kErrorSuccess) {
            // Swapped meanwhile, or a live run: left alone.
            m_fileSystem.Close(run.journal);
            return;
        }
        std::string bytes;
        if (run_journal::ReadAll(m_fileSystem, run.journal, &bytes) != kErrorSuccess) {
            m_fileSystem.Close(run.journal);
            return;
        }
        if (!run_journal::Decode(bytes, &run.header, &run.entries)) {
            // The header is complete and durable before anything changes in
            // a template directory, so nothing else belongs to this run.
            if (removeLeftovers) {
                RemoveLeftover(runDir);
            }
            m_fileSystem.Close(run.journal);
            return;
        }
        if (!Trusted(run, folder, temporary)) {
            refused->push_back(runDir);
            m_fileSystem.Close(run.journal);
            return;
        }
        runs->push_back(run);
    }

    // Whether a decoded run may be acted on: its backup directory is its
    // own (in the run directory, or where earlier versions kept it, inside
    // its template directory), belongs to the user and is private; a hidden
    // run's template directory lies at or below the folder that holds it.
    bool Trusted(const FoundRun& run, const stdx::u16string& folder, bool temporary) {
        const stdx::u16string& target = run.header.targetDir;
        if (!temporary && !path_names::StartsWith(target, path_names::WithTrailingSlash(folder))) {
            return false;
        }
        const stdx::u16string& backup = run.header.backupDir;
        if (backup != run.runDir + run_names::kBackupName + u"/" &&
            backup != target + run_names::HiddenBackupName(run.header.tag) + u"/") {
            return false;
        }
        FileStatus status;
        if (m_fileSystem.Status(path_names::WithoutTrailingSlash(backup), &status) !=
            kErrorSuccess) {
            return false;
        }
        return status.type == FileType::Missing ||
               detail::OwnedAndPrivate(status, FileType::Directory);
    }

    // A run directory of the user's own without a journal that says what to
    // do: its run changed nothing (the header is durable before the first
    // change), or it was complete or undone and was being removed (the
    // journal goes only once that is durable; a backup that could not be
    // restored keeps it). Nothing in it is needed.
    void RemoveLeftover(const stdx::u16string& runDir) { m_fileSystem.RemoveTree(runDir); }

    FS& m_fileSystem;
};

}  // namespace run_finder
