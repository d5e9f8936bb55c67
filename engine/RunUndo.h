#pragma once

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/fs/ErrorCodes.h"
#include "engine/fs/FileFinder.h"
#include "engine/fs/FileSystem.h"
#include "engine/InstallEvents.h"
#include "engine/InstallRecovery.h"
#include "engine/RunJournal.h"
#include "text/String.h"

// Undoing a run from its journal, shared by the worker's own rollback and by
// the recovery of runs whose process died. The journal's format and the
// reasons behind each step are described in RunJournal.h.
namespace run_undo {

struct UndoCounts {
    int restored = 0;  // earlier files moved back from the backup
    int removed = 0;   // files and directories of the run removed
};

inline stdx::u16string WithoutSlash(const stdx::u16string& path) {
    std::size_t end = path.size();
    while (end > 1 && path[end - 1] == u'/') {
        --end;
    }
    return path.substr(0, end);
}

inline stdx::u16string ParentOf(const stdx::u16string& path) {
    const stdx::u16string trimmed = WithoutSlash(path);
    const std::size_t slash = trimmed.rfind(u'/');
    if (slash == stdx::u16string::npos) {
        return trimmed;
    }
    return slash == 0 ? stdx::u16string(u"/") : trimmed.substr(0, slash);
}

// Moves every file below backupDir + relative back to targetDir + relative,
// over whatever the run wrote there. False when any move failed.
template <class FS, class Finder>
bool RestoreBackups(FS& fileSystem, const stdx::u16string& targetDir,
                    const stdx::u16string& backupDir, const stdx::u16string& relative,
                    UndoCounts* counts) {
    const stdx::u16string directory = backupDir + relative;
    std::vector<stdx::u16string> names;
    std::vector<bool> isDirectory;
    {
        Finder finder;
        if (!finder.First(directory + u"*")) {
            return true;
        }
        do {
            const stdx::u16string name = finder.Name();
            if (name == u"." || name == u"..") {
                continue;
            }
            names.push_back(name);
            isDirectory.push_back(finder.IsDirectory() != 0 && !finder.IsSymbolicLink());
        } while (finder.Next());
    }
    bool restored = true;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const stdx::u16string child = relative + names[i];
        if (isDirectory[i]) {
            restored = RestoreBackups<FS, Finder>(fileSystem, targetDir, backupDir, child + u"/",
                                                  counts) &&
                       restored;
            continue;
        }
        // A plain rename: the backup directory is on the template's own file
        // system, so this never copies and never needs free space.
        if (fileSystem.Rename(backupDir + child, targetDir + child, true) == kErrorSuccess) {
            ++counts->restored;
        } else {
            restored = false;
        }
    }
    return restored;
}

// Undoes a run: removes the temporaries of its entries and its new files,
// restores every backed-up file, then removes the directories it created
// (when empty), last first, and finally the emptied backup directory. New
// files go before the restore: where a new file's name and a replaced
// one's meet (another case on a case-insensitive file system), removing
// the new one afterwards would remove the restored original. Safe to
// repeat after being interrupted. True when every backup was restored;
// otherwise the backup directory is kept with what is still in it.
template <class FS, class Finder>
bool Undo(FS& fileSystem, const run_journal::Header& header,
          const std::vector<run_journal::Entry>& entries, UndoCounts* counts) {
    using run_journal::Step;
    const stdx::u16string& target = header.targetDir;
    std::set<stdx::u16string> temporaryDirs;
    for (const run_journal::Entry& entry : entries) {
        if (entry.step == Step::NewFile || entry.step == Step::Replace ||
            entry.step == Step::Overwrite) {
            temporaryDirs.insert(ParentOf(target + entry.path));
        }
    }
    for (const stdx::u16string& directory : temporaryDirs) {
        for (std::size_t writer = 0; writer < run_journal::kMaxWriters; ++writer) {
            fileSystem.RemoveFile(run_journal::TemporaryIn(directory, header.tag, writer));
        }
    }

    std::vector<stdx::u16string> directories;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        if (it->step == Step::NewFile) {
            // Only a file: whatever else stands there now is not the run's.
            const stdx::u16string path = target + it->path;
            FileStatus status;
            if (fileSystem.Status(path, &status) == kErrorSuccess &&
                status.type == FileType::Regular) {
                fileSystem.RemoveFile(path);
                ++counts->removed;
            }
        } else if (it->step == Step::Directory) {
            directories.push_back(it->path);
        }
    }
    // A run that failed before its header was written has no backups.
    const bool restored =
        header.backupDir.empty() ||
        RestoreBackups<FS, Finder>(fileSystem, target, header.backupDir, u"", counts);

    // Levels are journalled from the deepest missing one upwards, so they
    // are removed longest path first; one that is not empty holds something
    // that is not the run's and stays.
    std::stable_sort(
        directories.begin(), directories.end(),
        [](const stdx::u16string& a, const stdx::u16string& b) { return a.size() > b.size(); });
    for (const stdx::u16string& directory : directories) {
        if (fileSystem.RemoveDirectory(directory) == kErrorSuccess) {
            ++counts->removed;
        }
    }
    if (restored && !header.backupDir.empty()) {
        fileSystem.RemoveTree(WithoutSlash(header.backupDir));
    }
    return restored;
}

// Removes the backup directory and the run directory of a run (the journal
// with it). The journal goes last but one: as long as it is there, the next
// start still knows what to finish.
template <class FS>
void RemoveRun(FS& fileSystem, const stdx::u16string& runDir, const stdx::u16string& backupDir) {
    if (!backupDir.empty()) {
        fileSystem.RemoveTree(WithoutSlash(backupDir));
    }
    fileSystem.RemoveFile(WithoutSlash(runDir) + u"/" + run_journal::JournalName());
    fileSystem.RemoveTree(WithoutSlash(runDir));
}

// Takes the lock on the temporary directory that keeps a starting run and a
// recovery from meeting half-made run directories. Returns the locked
// handle, or -1 when it could not be had within about two seconds (the
// caller goes on without it: another process holding the lock must not stop
// the installer).
template <class FS>
FileHandle LockTempDirectory(FS& fileSystem, const stdx::u16string& tempDir) {
    FileHandle handle = kInvalidHandle;
    if (fileSystem.OpenDirectory(WithoutSlash(tempDir), &handle) != kErrorSuccess) {
        return kInvalidHandle;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (fileSystem.Lock(handle, false) == kErrorSuccess) {
            return handle;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    fileSystem.Close(handle);
    return kInvalidHandle;
}

// Whether name is "qrstp" followed by decimal digits only.
inline bool IsRunDirectoryName(const stdx::u16string& name) {
    if (name.size() <= 5 || name.find(u"qrstp") != 0) {
        return false;
    }
    for (std::size_t i = 5; i < name.size(); ++i) {
        if (name[i] < u'0' || name[i] > u'9') {
            return false;
        }
    }
    return true;
}

// One interrupted run found in the temporary directory, its journal open
// and locked by us.
struct DeadRun {
    stdx::u16string runDir;
    FileHandle journal = kInvalidHandle;
    run_journal::Header header;
    std::vector<run_journal::Entry> entries;
};

// Finds the run directories of this user in tempDir whose journal no live
// process holds. Run directories without a complete journal header changed
// nothing in a template directory and are removed at once (unless
// removeLeftovers is false). The returned journals stay locked until closed.
template <class FS, class Finder>
std::vector<DeadRun> FindDeadRuns(FS& fileSystem, const stdx::u16string& tempDir,
                                  bool removeLeftovers) {
    std::vector<DeadRun> runs;
    std::vector<stdx::u16string> candidates;
    {
        Finder finder;
        if (finder.First(tempDir + u"qrstp*")) {
            do {
                if (IsRunDirectoryName(finder.Name())) {
                    candidates.push_back(tempDir + finder.Name());
                }
            } while (finder.Next());
        }
    }
    const std::uint32_t user = static_cast<std::uint32_t>(::geteuid());
    for (const stdx::u16string& runDir : candidates) {
        FileStatus status;
        if (fileSystem.Status(runDir, &status) != kErrorSuccess ||
            status.type != FileType::Directory || status.owner != user) {
            continue;
        }
        const stdx::u16string journalPath = runDir + u"/" + run_journal::JournalName();
        FileStatus journalStatus;
        if (fileSystem.Status(journalPath, &journalStatus) != kErrorSuccess) {
            continue;
        }
        if (journalStatus.type == FileType::Missing) {
            // The temporary directory's lock is held while a run directory
            // is made and its journal locked, so this one's maker is gone.
            // Only an empty one is removed: a directory of that name with
            // something in it is not known to be ours to delete.
            if (removeLeftovers) {
                fileSystem.RemoveDirectory(runDir);
            }
            continue;
        }
        if (journalStatus.type != FileType::Regular) {
            continue;
        }
        DeadRun run;
        run.runDir = runDir;
        if (fileSystem.Open(journalPath, kAccessRead, 0, kDispositionOpenExisting, &run.journal,
                            kAttributeNormal) != kErrorSuccess) {
            continue;
        }
        if (fileSystem.Lock(run.journal, false) != kErrorSuccess) {
            fileSystem.Close(run.journal);  // a live run: left alone
            continue;
        }
        std::string bytes;
        if (run_journal::ReadAll(fileSystem, run.journal, &bytes) != kErrorSuccess) {
            fileSystem.Close(run.journal);
            continue;
        }
        if (!run_journal::Decode(bytes, &run.header, &run.entries)) {
            // The header is complete before the backup directory is made
            // and before any change, so nothing else belongs to this run.
            if (removeLeftovers) {
                fileSystem.RemoveFile(journalPath);
                fileSystem.RemoveDirectory(runDir);
            }
            fileSystem.Close(run.journal);
            continue;
        }
        runs.push_back(run);
    }
    return runs;
}

// The recovery behind RecoverInterruptedRuns, over any file-system policy.
template <class FS, class Finder>
RecoveryResult RecoverRuns(FS& fileSystem, InstallEventSink* sink) {
    RecoveryResult result;
    stdx::u16string tempDir;
    fileSystem.TempDirectory(&tempDir);
    if (tempDir.empty() || tempDir.back() != u'/') {
        tempDir.push_back(u'/');
    }
    const FileHandle tempLock = LockTempDirectory(fileSystem, tempDir);
    std::vector<DeadRun> runs = FindDeadRuns<FS, Finder>(fileSystem, tempDir, true);
    if (tempLock != kInvalidHandle) {
        fileSystem.Close(tempLock);
    }
    for (DeadRun& run : runs) {
        if (run_journal::IsComplete(run.entries)) {
            RemoveRun(fileSystem, run.runDir, run.header.backupDir);
            ++result.completed;
        } else {
            UndoCounts counts;
            if (Undo<FS, Finder>(fileSystem, run.header, run.entries, &counts)) {
                RemoveRun(fileSystem, run.runDir, stdx::u16string());
                ++result.restored;
            } else {
                result.keptBackups.push_back(run.header.backupDir);
            }
            if (sink != nullptr) {
                sink->OnRollback(counts.restored, counts.removed);
            }
        }
        fileSystem.Close(run.journal);
    }
    return result;
}

// Whether RecoverRuns would find a run to undo or complete.
template <class FS, class Finder>
bool HasDeadRuns(FS& fileSystem) {
    stdx::u16string tempDir;
    fileSystem.TempDirectory(&tempDir);
    if (tempDir.empty() || tempDir.back() != u'/') {
        tempDir.push_back(u'/');
    }
    std::vector<DeadRun> runs = FindDeadRuns<FS, Finder>(fileSystem, tempDir, false);
    for (DeadRun& run : runs) {
        fileSystem.Close(run.journal);
    }
    return !runs.empty();
}

}  // namespace run_undo
