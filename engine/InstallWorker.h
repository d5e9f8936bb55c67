#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <unordered_set>
#include <vector>

#include "engine/ErrorCodes.h"
#include "engine/FileFinder.h"
#include "engine/FileSystem.h"
#include "engine/InstallProcessData.h"
#include "kit/InstallData.h"
#include "kit/KitName.h"
#include "text/Languages.h"
#include "text/String.h"
#include "text/StringUtils.h"

// What one run changed, kept so that a failed or cancelled run can be undone
// completely.
struct BackupEntry {
    // The template directory of the run, ending with "/".
    stdx::u16string m_targetDir;
    // The temporary directory, "qrstp" and a number, ending with "/"; empty
    // until the run has made it.
    stdx::u16string m_backupDir;
    // Every directory level the run created, in the order of creation.
    std::vector<stdx::u16string> m_createdDirs;
    // Files the run wrote where nothing stood before.
    std::vector<stdx::u16string> m_newFiles;
    // Installed paths whose earlier file the run moved into m_backupDir, in
    // the order of the moves. The rollback moves exactly these back.
    std::vector<stdx::u16string> m_backedUpFiles;
    // Every installed path the run has backed up or created, so that a
    // second record for the same path never moves the run's own copy over
    // the backup of the original.
    std::unordered_set<stdx::u16string> m_claimedFiles;
};

// One installation run: copies every kit file that is newer than the
// installed copy into the template directory, after moving the installed
// copy into a backup directory under the temporary directory. Any failure,
// and a cancel request, moves the backups back and removes everything the
// run created, before the final status is posted.
//
// The disk is reached only through the FS policy (and Finder, the directory
// search that goes with it), and the kit is read through the same policy, so
// that tests can fail any single operation.
template <class FS, class Finder = FileFinder>
class InstallWorker {
public:
    using Kit = InstallData<LZCompressor, FS>;
    using ProcessData = BasicInstallProcessData<Kit>;

    // The pause after the 100 percent status, so that the user sees the
    // finished state before the thread ends.
    static constexpr std::chrono::milliseconds kFinishPause{1000};

    // Performs one run with the kit and the target directory of
    // processData, posting its progress there. Returns 0 after success (the
    // last status is 0, "IDS_INSTALL_FINISH", 100, followed by the finish
    // pause), or the code that ended the run once it has been rolled back
    // (its status posted as described at InstallProcessDataBase). Codes: those
    // of the FS operations and of Kit::ExtractFile; 87 for a missing kit, an
    // empty target directory, an unsafe kit name or a directory standing
    // where a kit file goes; 1223 for a cancel. Must not be called with a
    // null processData.
    ErrorCode Run(ProcessData* processData);

    // Tests and benchmarks shorten the pause after success.
    void SetFinishPause(std::chrono::milliseconds pause) { m_finishPause = pause; }
    // One entry per run, the last one for the latest run.
    const std::vector<BackupEntry>& Entries() const { return m_entries; }

private:
    BackupEntry& Current() { return m_entries.back(); }

    // Starts a new entry for targetDir and makes a new, empty backup
    // directory "qrstp<N>/" in the temporary directory. 87 for an empty
    // target; otherwise 0 or the code of the failed step.
    ErrorCode PrepareBackup(const stdx::u16string& targetDir);
    // Sets *skip when the file at path is at least as new as recordTime,
    // compared in whole seconds, since the disk keeps no more. A missing file
    // is installed. 87 when an older path is a directory; the code of
    // FS::Open or FS::GetTimes when an existing file cannot be examined.
    ErrorCode IsUpToDate(const stdx::u16string& path, FileTime recordTime, bool* skip);
    // Creates the directory and any missing parent, one level at a time,
    // recording each level it created. 0, 3 (no parent to create) or the
    // code of FS::MakeDirectory.
    ErrorCode MakeDirectoryRecorded(const stdx::u16string& directory);
    // Creates a directory with its parents, without recording.
    ErrorCode MakeDirectoryTree(const stdx::u16string& directory);
    // Moves the installed copy at path into the backup directory, or records
    // path as new when nothing stands there. 0 when the run may write path;
    // any other code ends the run, since the file would be lost otherwise.
    ErrorCode BackupFile(const stdx::u16string& path);
    // Removes a directory with everything in it; links are not followed.
    ErrorCode RemoveDirectoryTree(const stdx::u16string& directory);
    // Moves every backed-up file back, counting the moves that succeeded in
    // *count. False when any move failed.
    bool RestoreBackups(int* count);
    // Undoes the current run and returns code.
    ErrorCode Rollback(ErrorCode code);
    // Rolls back, then posts code with the text of textKey and percent, so
    // that the final status is seen only once the rollback is over.
    ErrorCode Finish(ErrorCode code, const char* textKey, std::int32_t percent);
    ErrorCode ReportFailure(ErrorCode code, std::int32_t percent) {
        return Finish(code, "IDS_INSTALL_ERROR", percent);
    }
    ErrorCode ReportCancel(std::int32_t percent) {
        return Finish(kErrorCancelled, "IDS_CANCEL_FINISH", percent);
    }
    void RemoveBackup() { RemoveDirectoryTree(Current().m_backupDir); }

    std::vector<BackupEntry> m_entries;
    ProcessData* m_processData = nullptr;
    // Directories of the current run (in the template and the backup
    // directory) known to exist, so that each is looked up once per run
    // rather than once per file.
    std::unordered_set<stdx::u16string> m_knownDirs;
    FS m_fileSystem;
    std::chrono::milliseconds m_finishPause = kFinishPause;
};

namespace install_worker_detail {

// The part of path before its last "/", or the whole path when it has
// none. Trailing "/" are ignored, so "a/b/" gives "a".
stdx::u16string ParentOf(const stdx::u16string& path);
// The path without trailing "/", except that "/" stays "/".
stdx::u16string WithoutTrailingSlash(const stdx::u16string& path);
// targetDir followed by the kit name with every "\" turned into "/".
stdx::u16string InstalledPath(const stdx::u16string& targetDir, const stdx::u16string& kitName);
// Whole seconds of a file time: the disk stores no more.
inline std::uint64_t WholeSeconds(FileTime time) {
    return time / 10000000u;
}

}  // namespace install_worker_detail

template <class FS, class Finder>
ErrorCode InstallWorker<FS, Finder>::Run(ProcessData* processData) {
    m_processData = processData;
    Kit* kit = nullptr;
    stdx::u16string targetDir;
    m_processData->GetInstallData(&kit, &targetDir);

    ErrorCode code = PrepareBackup(targetDir);
    if (code != kErrorSuccess) {
        return ReportFailure(code, 0);
    }
    if (kit == nullptr) {
        return ReportFailure(kErrorInvalidParameter, 0);
    }

    const std::size_t count = kit->m_files.size();
    std::int32_t percent = 0;
    for (std::size_t i = 0; i < count; ++i) {
        // Also checked before each record, so that a run over files that are
        // all up to date stops as well. The percent is still the one posted
        // last: the run has not reached this record.
        if (m_processData->IsCancelled()) {
            return ReportCancel(percent);
        }
        percent = static_cast<std::int32_t>(static_cast<std::uint64_t>(i) * 100 / count);
        const auto& record = kit->m_files[i];
        // A loaded kit holds only safe names; the check stays here because
        // this is where a name meets the disk.
        if (!kit::IsSafeKitName(record.m_name)) {
            return ReportFailure(kErrorInvalidParameter, percent);
        }
        stdx::u16string path = install_worker_detail::InstalledPath(targetDir, record.m_name);
        m_processData->SetStatus(kErrorSuccess, path, percent);

        bool skip = false;
        code = IsUpToDate(path, record.m_lastWriteTime, &skip);
        if (code != kErrorSuccess) {
            return ReportFailure(code, percent);
        }
        InstallEventSink* sink = m_processData->EventSink();
        const stdx::u16string relative(path, targetDir.size());
        if (skip) {
            if (sink != nullptr) {
                sink->OnFileAction(relative, FileAction::Skip);
            }
            continue;
        }
        const std::size_t backedUp = Current().m_backedUpFiles.size();
        code = BackupFile(path);
        if (code != kErrorSuccess) {
            return ReportFailure(code, percent);
        }
        code = MakeDirectoryRecorded(install_worker_detail::ParentOf(path));
        if (code != kErrorSuccess) {
            return ReportFailure(code, percent);
        }
        code = kit->ExtractFile(i, path);
        if (code != kErrorSuccess) {
            return ReportFailure(code, percent);
        }
        if (sink != nullptr) {
            sink->OnFileAction(relative, Current().m_backedUpFiles.size() > backedUp
                                             ? FileAction::Replace
                                             : FileAction::Install);
        }
        if (m_processData->IsCancelled()) {
            return ReportCancel(percent);
        }
    }

    RemoveBackup();
    m_processData->SetStatus(kErrorSuccess, LocalizedString("IDS_INSTALL_FINISH"), 100);
    std::this_thread::sleep_for(m_finishPause);
    return kErrorSuccess;
}

template <class FS, class Finder>
ErrorCode InstallWorker<FS, Finder>::PrepareBackup(const stdx::u16string& targetDir) {
    m_entries.emplace_back();
    Current().m_targetDir = targetDir;
    m_knownDirs.clear();
    // Without a directory the kit's names would land relative to whatever
    // the working directory is, where no backup protects anything.
    if (targetDir.empty()) {
        return kErrorInvalidParameter;
    }

    stdx::u16string tempDir;
    ErrorCode code = m_fileSystem.TempDirectory(&tempDir);
    if (code != kErrorSuccess) {
        return code;
    }
    if (tempDir.empty() || tempDir.back() != u'/') {
        tempDir.push_back(u'/');
    }
    code = MakeDirectoryRecorded(tempDir);
    if (code != kErrorSuccess) {
        return code;
    }

    // The directory must be new: an existing one may belong to another run,
    // whose files a rollback or clean-up of ours would remove. A name that
    // appears between the search and the creation is passed over too.
    constexpr std::int32_t kMaxNumber = 1000000;
    for (std::int32_t number = 0; number < kMaxNumber; ++number) {
        const stdx::u16string candidate = tempDir + u"qrstp" + IntToString(number, 10);
        Finder finder;
        if (finder.First(candidate)) {
            continue;
        }
        code = m_fileSystem.MakeDirectory(candidate);
        if (code == kErrorAlreadyExists) {
            continue;
        }
        if (code != kErrorSuccess) {
            return code;
        }
        Current().m_backupDir = candidate + u"/";
        return kErrorSuccess;
    }
    return kErrorInvalidParameter;
}

template <class FS, class Finder>
ErrorCode InstallWorker<FS, Finder>::IsUpToDate(const stdx::u16string& path, FileTime recordTime,
                                                bool* skip) {
    *skip = false;
    // Only a missing file may be written without knowing its time: any
    // other failure could hide a newer copy that the run must not replace.
    FileHandle handle = kInvalidHandle;
    ErrorCode code = m_fileSystem.Open(path, kAccessRead, 0, kDispositionOpenExisting, &handle,
                                       kAttributeNormal);
    if (code == kErrorNotFound) {
        return kErrorSuccess;
    }
    if (code != kErrorSuccess) {
        return code;
    }
    FileTime modified = 0;
    code = m_fileSystem.GetTimes(handle, nullptr, nullptr, &modified);
    m_fileSystem.Close(handle);
    if (code != kErrorSuccess) {
        return code;
    }
    *skip = install_worker_detail::WholeSeconds(modified) >=
            install_worker_detail::WholeSeconds(recordTime);
    if (*skip) {
        return kErrorSuccess;
    }
    // A directory opens too, but cannot be replaced by a file without
    // losing what it holds.
    Finder finder;
    if (finder.First(path) && finder.IsDirectory() != 0) {
        return kErrorInvalidParameter;
    }
    return kErrorSuccess;
}

template <class FS, class Finder>
ErrorCode InstallWorker<FS, Finder>::MakeDirectoryRecorded(const stdx::u16string& directory) {
    const stdx::u16string path = install_worker_detail::WithoutTrailingSlash(directory);
    if (path.empty() || path == u"/") {
        return kErrorSuccess;
    }
    if (m_knownDirs.count(path) != 0) {
        return kErrorSuccess;
    }
    {
        Finder finder;
        if (finder.First(path) && finder.IsDirectory() != 0) {
            m_knownDirs.insert(path);
            return kErrorSuccess;
        }
    }
    // Create the parent first, so that the call below makes exactly one
    // level and every level the run makes is recorded (and undone).
    const std::size_t slash = path.rfind(u'/');
    if (slash == stdx::u16string::npos) {
        return kErrorNoParent;
    }
    if (slash == 2 && path[1] == u':') {
        return kErrorNoParent;
    }
    const ErrorCode parentCode =
        MakeDirectoryRecorded(slash == 0 ? stdx::u16string(u"/") : path.substr(0, slash));
    if (parentCode != kErrorSuccess) {
        return parentCode;
    }
    const ErrorCode code = m_fileSystem.MakeDirectory(path);
    if (code != kErrorSuccess && code != kErrorAlreadyExists) {
        return code;
    }
    m_knownDirs.insert(path);
    if (code == kErrorSuccess) {
        Current().m_createdDirs.push_back(path);
    }
    return kErrorSuccess;
}

template <class FS, class Finder>
ErrorCode InstallWorker<FS, Finder>::MakeDirectoryTree(const stdx::u16string& directory) {
    const stdx::u16string path = install_worker_detail::WithoutTrailingSlash(directory);
    if (path.empty() || path == u"/" || m_knownDirs.count(path) != 0) {
        return kErrorSuccess;
    }
    const ErrorCode code = m_fileSystem.MakeDirectory(path);
    if (code != kErrorSuccess && code != kErrorAlreadyExists) {
        return code;
    }
    m_knownDirs.insert(path);
    return kErrorSuccess;
}

template <class FS, class Finder>
ErrorCode InstallWorker<FS, Finder>::BackupFile(const stdx::u16string& path) {
    BackupEntry& entry = Current();
    if (!entry.m_claimedFiles.insert(path).second) {
        return kErrorSuccess;
    }
    const stdx::u16string relative(path, entry.m_targetDir.size());
    const stdx::u16string backup = entry.m_backupDir + relative;
    ErrorCode code = MakeDirectoryTree(install_worker_detail::ParentOf(backup));
    if (code == kErrorSuccess) {
        code = m_fileSystem.Move(path, backup);
    }
    if (code == kErrorSuccess) {
        entry.m_backedUpFiles.push_back(path);
        return kErrorSuccess;
    }
    // Move reports 2 only for a missing source: the run creates this file.
    if (code == kErrorNotFound) {
        entry.m_newFiles.push_back(path);
        return kErrorSuccess;
    }
    entry.m_claimedFiles.erase(path);
    return code;
}

template <class FS, class Finder>
ErrorCode InstallWorker<FS, Finder>::RemoveDirectoryTree(const stdx::u16string& directory) {
    if (directory.empty()) {
        return kErrorSuccess;
    }
    return m_fileSystem.RemoveTree(install_worker_detail::WithoutTrailingSlash(directory));
}

template <class FS, class Finder>
bool InstallWorker<FS, Finder>::RestoreBackups(int* count) {
    BackupEntry& entry = Current();
    bool restored = true;
    *count = 0;
    for (auto it = entry.m_backedUpFiles.rbegin(); it != entry.m_backedUpFiles.rend(); ++it) {
        const stdx::u16string relative(*it, entry.m_targetDir.size());
        // The move replaces whatever the run wrote at the path.
        if (m_fileSystem.Move(entry.m_backupDir + relative, *it) != kErrorSuccess) {
            restored = false;
        } else {
            ++*count;
        }
    }
    return restored;
}

template <class FS, class Finder>
ErrorCode InstallWorker<FS, Finder>::Rollback(ErrorCode code) {
    BackupEntry& entry = Current();
    int restoredCount = 0;
    const bool restored = RestoreBackups(&restoredCount);
    for (const stdx::u16string& file : entry.m_newFiles) {
        m_fileSystem.RemoveFile(file);
    }
    for (const stdx::u16string& directory : entry.m_createdDirs) {
        RemoveDirectoryTree(directory);
    }
    if (m_processData->EventSink() != nullptr) {
        m_processData->EventSink()->OnRollback(
            restoredCount, static_cast<int>(entry.m_newFiles.size() + entry.m_createdDirs.size()));
    }
    // A backup that could not be moved back is the only copy of the user's
    // file: keep it where the user can find it.
    if (restored) {
        RemoveBackup();
    } else {
        m_processData->SetKeptBackup(entry.m_backupDir);
    }
    return code;
}

template <class FS, class Finder>
ErrorCode InstallWorker<FS, Finder>::Finish(ErrorCode code, const char* textKey,
                                            std::int32_t percent) {
    Rollback(code);
    m_processData->SetStatus(code, LocalizedString(textKey), percent);
    return code;
}

extern template class InstallWorker<FileSystem>;
