#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/DirectoryHandles.h"
#include "engine/ErrorCodes.h"
#include "engine/FileFinder.h"
#include "engine/FileSystem.h"
#include "engine/InstallEvents.h"
#include "engine/InstallProcessData.h"
#include "engine/RunJournal.h"
#include "engine/RunUndo.h"
#include "kit/InstallData.h"
#include "kit/KitName.h"
#include "text/Languages.h"
#include "text/String.h"
#include "text/StringUtils.h"

// What one run changed, kept so that a failed or cancelled run can be undone
// completely. The same facts are in the run's journal on disk (RunJournal.h).
struct BackupEntry {
    // The template directory of the run, ending with "/".
    stdx::u16string m_targetDir;
    // The run directory "qrstp<N>/" in the temporary directory, holding the
    // journal; empty until the run has made it.
    stdx::u16string m_runDir;
    // Where the earlier files go, ending with "/": "files/" in the run
    // directory, or a hidden directory inside the template directory when
    // that lies on another file system. Empty until the run has made it.
    stdx::u16string m_backupDir;
    // Every directory level the run created, in the order of creation.
    std::vector<stdx::u16string> m_createdDirs;
    // Files the run wrote where nothing stood before.
    std::vector<stdx::u16string> m_newFiles;
    // Installed paths whose earlier file the run moved into m_backupDir, in
    // the order of the moves.
    std::vector<stdx::u16string> m_backedUpFiles;
    // The journal's entries as written, for the rollback.
    std::vector<run_journal::Entry> m_journal;
};

// One installation run: copies every kit file that is newer than the
// installed copy into the template directory. Each file is written under a
// temporary name in its own directory and renamed into place; an older copy
// is first renamed into the backup directory, never copied. Every change is
// written ahead into the run's journal, so that a failure, a cancel request
// and (through RecoverInterruptedRuns) a killed process all end with the
// template directory as it was, or, for a run that had installed every
// file, fully installed.
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

    InstallWorker() = default;
    InstallWorker(const InstallWorker&) = delete;
    InstallWorker& operator=(const InstallWorker&) = delete;

    // Performs one run with the kit and the target directory of
    // processData, posting its progress there. Returns 0 after success (the
    // last status is 0, "IDS_INSTALL_FINISH", 100, followed by the finish
    // pause), or the code that ended the run once it has been rolled back
    // (its status posted as described at InstallProcessDataBase). Codes: those
    // of the FS operations and of Kit::WriteFileTo; 87 for a missing kit, an
    // empty or relative target directory, an unsafe kit name, anything but
    // a regular file (a directory, a link, a pipe, a socket, a device) where
    // a kit file goes, or anything but a directory (a link to one included)
    // at a level between the target directory and a kit file, found before
    // anything at that file's path is touched; 1223 for a cancel. When the rollback could not
    // move every earlier file back, the backup directory is kept (and named
    // with SetKeptBackup) and so is the journal, for the next start. Must
    // not be called with a null processData.
    ErrorCode Run(ProcessData* processData);

    // Tests and benchmarks shorten the pause after success.
    void SetFinishPause(std::chrono::milliseconds pause) { m_finishPause = pause; }
    // One entry per run, the last one for the latest run.
    const std::vector<BackupEntry>& Entries() const { return m_entries; }

private:
    BackupEntry& Current() { return m_entries.back(); }

    // Starts a new entry for targetDir, makes the run directory with its
    // locked journal, chooses and makes the backup directory, and makes all
    // of it durable. 87 for an empty or relative target; otherwise 0 or the
    // code of the failed step.
    ErrorCode PrepareRun(const stdx::u16string& targetDir, const Kit& kit);
    // Installs record index at path as step says (NewFile, Replace or
    // Overwrite), journal entry first; m_directoryBytes and m_leafBytes
    // name it below the template directory, and directory is the open
    // handle of its directory, or -1 when a level of it is missing. 0 or
    // the code of the failed step.
    ErrorCode InstallFile(Kit& kit, std::size_t index, const stdx::u16string& path,
                          const stdx::u16string& relative, FileHandle directory,
                          run_journal::Step step);
    // Appends one entry to the journal (and the in-memory copy).
    ErrorCode Journal(run_journal::Step step, const stdx::u16string& path);
    // The same with the path's UTF-8 bytes already at hand.
    ErrorCode Journal(run_journal::Step step, const stdx::u16string& path,
                      const std::string& bytes);
    // Makes one missing level of the template tree for m_targetDirs: the
    // root by its path (MakeDirectoryRecorded), any other level as name in
    // parent, journalled first and recorded once made. 0, 183 or the code
    // of the failed step.
    ErrorCode MakeLevel(FileHandle parent, const std::string& name, const stdx::u16string& path);
    // Creates the directory and any missing parent, deepest level first (a
    // parent is only tried when the level itself reports it missing), each
    // level journalled before it is made and recorded once made. 0, 3 (no
    // parent to create) or the code of FS::CreateDirectory.
    ErrorCode MakeDirectoryRecorded(const stdx::u16string& directory);
    // Renames the installed copy at path (m_leafBytes in directory) to the
    // same relative path in the backup directory, never over anything
    // there. 0 or the code that ends the run, since the file would be lost
    // otherwise.
    ErrorCode BackupFile(FileHandle directory, const stdx::u16string& path);
    // Undoes the current run and returns code.
    ErrorCode Rollback(ErrorCode code);
    // Rolls back, then posts code with the text of textKey and percent, so
    // that the final status is seen only once the rollback is over.
    ErrorCode Finish(ErrorCode code, const char* textKey, std::int32_t percent);
    ErrorCode ReportFailure(ErrorCode code, std::int32_t percent) {
        if (code == kErrorCancelled) {
            return Finish(code, "IDS_CANCEL_FINISH", percent);
        }
        return Finish(code, "IDS_INSTALL_ERROR", percent);
    }
    ErrorCode ReportCancel(std::int32_t percent) {
        return Finish(kErrorCancelled, "IDS_CANCEL_FINISH", percent);
    }
    void Tell(const stdx::u16string& relative, FileAction action) {
        if (m_sink != nullptr) {
            m_sink->OnFileAction(relative, action);
        }
    }

    std::vector<BackupEntry> m_entries;
    ProcessData* m_processData = nullptr;
    InstallEventSink* m_sink = nullptr;
    run_journal::Header m_header;
    FileHandle m_journal = kInvalidHandle;
    // The temporary file being written, open only while its bytes go in.
    FileHandle m_temporary = kInvalidHandle;
    // Files the run has written, by device and inode: a later record that
    // names one of them (a duplicate, or the same name in another case on a
    // case-insensitive file system) writes over the run's own copy instead
    // of backing it up over the backup of the original.
    std::set<std::pair<std::uint64_t, std::uint64_t>> m_written;
    FS m_fileSystem;
    // The open directories of the template tree and of the backup.
    DirectoryHandles<FS> m_targetDirs{m_fileSystem};
    DirectoryHandles<FS> m_backupDirs{m_fileSystem};
    // The current file below the template directory in UTF-8: its directory
    // ("" for the template directory itself), its name and the whole.
    // Members, so that their buffers serve every file of the run.
    std::string m_directoryBytes;
    std::string m_leafBytes;
    std::string m_recordBytes;
    // The journal entry being written.
    std::string m_journalRecord;
    // The name of the run's temporaries, ".qa-<tag>.tmp", in UTF-8.
    std::string m_temporaryName;
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
// A random tag of 16 hexadecimal digits for the run's private names.
stdx::u16string RandomTag();
// Whether a component of a kit name equals one of the run's private names
// (".qa-<tag>.backup", ".qa-<tag>.tmp"), ASCII letters compared without
// case as a case-insensitive file system would.
bool NameMeetsTag(const stdx::u16string& kitName, const stdx::u16string& tag);

}  // namespace install_worker_detail

template <class FS, class Finder>
ErrorCode InstallWorker<FS, Finder>::Run(ProcessData* processData) {
    m_processData = processData;
    m_sink = m_processData->EventSink();
    Kit* kit = nullptr;
    stdx::u16string targetDir;
    m_processData->GetInstallData(&kit, &targetDir);
    if (kit == nullptr) {
        m_entries.emplace_back();
        return ReportFailure(kErrorInvalidParameter, 0);
    }
    ErrorCode code = PrepareRun(targetDir, *kit);
    if (code != kErrorSuccess) {
        return ReportFailure(code, 0);
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
        const stdx::u16string path = install_worker_detail::InstalledPath(targetDir, record.m_name);
        const stdx::u16string relative(path, targetDir.size());
        m_processData->SetStatus(kErrorSuccess, path, percent);

        const stdx::string bytes = Utf16ToUtf8(relative);
        const std::size_t slash = bytes.rfind('/');
        if (slash == stdx::string::npos) {
            m_directoryBytes.clear();
            m_leafBytes.assign(bytes.c_str(), bytes.size());
        } else {
            m_directoryBytes.assign(bytes.c_str(), slash);
            m_leafBytes.assign(bytes.c_str() + slash + 1, bytes.size() - slash - 1);
        }
        m_recordBytes.assign(bytes.c_str(), bytes.size());
        // Each level is opened without following a link, so a link or a
        // file planted in place of a directory fails the run here, before
        // anything is written through it. Then lstat of the literal name: a
        // pattern character is just a character, and a link is never
        // followed.
        FileHandle directory = kInvalidHandle;
        code = m_targetDirs.Find(m_directoryBytes, &directory);
        FileStatus status;
        if (code == kErrorSuccess) {
            code = m_fileSystem.StatusAt(directory, m_leafBytes, &status);
        } else if (code == kErrorNotFound) {
            // A missing level: the file is missing too.
            directory = kInvalidHandle;
            code = kErrorSuccess;
        }
        if (code != kErrorSuccess) {
            return ReportFailure(code, percent);
        }
        run_journal::Step step = run_journal::Step::NewFile;
        FileAction action = FileAction::Install;
        if (status.type == FileType::Regular) {
            // Compared with what this file system keeps for the record's
            // time, so that a clamped copy is not taken as older every run.
            const FileTime stored = m_targetDirs.LastRule().Apply(record.m_lastWriteTime);
            if (install_worker_detail::WholeSeconds(status.modified) >=
                install_worker_detail::WholeSeconds(stored)) {
                Tell(relative, FileAction::Skip);
                continue;
            }
            if (m_written.count({status.device, status.inode}) != 0) {
                step = run_journal::Step::Overwrite;
            } else {
                step = run_journal::Step::Replace;
                action = FileAction::Replace;
            }
        } else if (status.type != FileType::Missing) {
            // A directory, a link, a pipe, a socket or a device: replacing it
            // would lose what it is, and opening it could hang.
            return ReportFailure(kErrorInvalidParameter, percent);
        }
        Tell(relative, action);
        code = InstallFile(*kit, i, path, relative, directory, step);
        if (code != kErrorSuccess) {
            return ReportFailure(code, percent);
        }
        if (m_processData->IsCancelled()) {
            return ReportCancel(percent);
        }
    }

    // Every file is in place: no handle is needed any more.
    m_targetDirs.Close();
    m_backupDirs.Close();

    // Every rename of the run is durable before "complete" is: a power cut
    // must never leave a complete journal over a half-done run. On a
    // journalling file system one fsync commits the whole metadata journal
    // of its file system, so this one on the template directory covers the
    // renames in every directory of the run, and the journal's own fsync
    // below covers its file system. A run that changed nothing may have no
    // template directory to sync.
    if (!Current().m_journal.empty()) {
        code = m_fileSystem.SyncDirectory(install_worker_detail::WithoutTrailingSlash(targetDir));
    }
    if (code == kErrorSuccess) {
        code = Journal(run_journal::Step::Complete, stdx::u16string());
    }
    if (code == kErrorSuccess) {
        code = m_fileSystem.Sync(m_journal);
    }
    if (code != kErrorSuccess) {
        return ReportFailure(code, percent);
    }
    run_undo::RemoveRun(m_fileSystem, Current().m_runDir, Current().m_backupDir);
    m_fileSystem.Close(m_journal);
    m_journal = kInvalidHandle;
    m_processData->SetStatus(kErrorSuccess, LocalizedString("IDS_INSTALL_FINISH"), 100);
    std::this_thread::sleep_for(m_finishPause);
    return kErrorSuccess;
}

template <class FS, class Finder>
ErrorCode InstallWorker<FS, Finder>::PrepareRun(const stdx::u16string& targetDir, const Kit& kit) {
    m_entries.emplace_back();
    BackupEntry& entry = Current();
    entry.m_targetDir = targetDir;
    m_header = run_journal::Header();
    m_written.clear();
    m_targetDirs.Close();
    m_backupDirs.Close();
    // Without an absolute directory the kit's names would land relative to
    // whatever the working directory is, and the journal could not name
    // them for a later start.
    if (targetDir.empty() || targetDir.front() != u'/') {
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

    // A recovery running in another process must not take the new run
    // directory for one whose maker died before its journal was locked.
    const FileHandle tempLock = run_undo::LockTempDirectory(m_fileSystem, tempDir);
    // The directory must be new: an existing one may belong to another run.
    constexpr std::int32_t kMaxNumber = 1000000;
    stdx::u16string runDir;
    for (std::int32_t number = 0; number < kMaxNumber && runDir.empty(); ++number) {
        const stdx::u16string candidate = tempDir + u"qrstp" + IntToString(number, 10);
        code = m_fileSystem.CreateDirectory(candidate, true);
        if (code == kErrorSuccess) {
            runDir = candidate;
        } else if (code != kErrorAlreadyExists) {
            break;
        }
    }
    if (!runDir.empty()) {
        entry.m_runDir = runDir + u"/";
        code = m_fileSystem.CreateExclusive(runDir + u"/" + run_journal::JournalName(), true,
                                            &m_journal);
        // Waits: only a look by HasInterruptedRuns can hold it, and briefly.
        if (code == kErrorSuccess) {
            code = m_fileSystem.Lock(m_journal, true);
        }
    } else if (code == kErrorAlreadyExists || code == kErrorSuccess) {
        code = kErrorInvalidParameter;
    }
    if (tempLock != kInvalidHandle) {
        m_fileSystem.Close(tempLock);
    }
    if (code != kErrorSuccess) {
        return code;
    }

    // Backups must be renames on the template's own file system: compare
    // the run directory's device with that of the nearest existing level of
    // the template directory.
    FileStatus runStatus;
    code = m_fileSystem.Status(runDir, &runStatus);
    if (code != kErrorSuccess) {
        return code;
    }
    stdx::u16string existing = install_worker_detail::WithoutTrailingSlash(targetDir);
    FileStatus targetStatus;
    for (;;) {
        code = m_fileSystem.Status(existing, &targetStatus);
        if (code != kErrorSuccess) {
            return code;
        }
        if (targetStatus.type != FileType::Missing || existing == u"/") {
            break;
        }
        existing = install_worker_detail::ParentOf(existing);
    }
    const bool targetExists = existing == install_worker_detail::WithoutTrailingSlash(targetDir) &&
                              targetStatus.type == FileType::Directory;
    stdx::u16string tag;
    bool clash = true;
    while (clash) {
        tag = install_worker_detail::RandomTag();
        clash = false;
        for (const auto& record : kit.m_files) {
            if (install_worker_detail::NameMeetsTag(record.m_name, tag)) {
                clash = true;
                break;
            }
        }
    }
    // A template directory that does not exist yet holds nothing to back
    // up, so the backup directory may stay in the run directory.
    const bool inside = targetExists && targetStatus.device != runStatus.device;
    m_header.targetDir = targetDir;
    m_header.tag = tag;
    m_header.backupDir = inside ? targetDir + u".qa-" + tag + u".backup/" : runDir + u"/files/";
    m_targetDirs.Reset(targetDir);
    m_backupDirs.Reset(m_header.backupDir);
    const stdx::string temporaryName = Utf16ToUtf8(u".qa-" + tag + u".tmp");
    m_temporaryName.assign(temporaryName.c_str(), temporaryName.size());

    code = run_journal::WriteRecords(m_fileSystem, m_journal, run_journal::EncodeHeader(m_header));
    if (code == kErrorSuccess) {
        code = m_fileSystem.Sync(m_journal);
    }
    if (code != kErrorSuccess) {
        return code;
    }
    code = m_fileSystem.CreateDirectory(
        install_worker_detail::WithoutTrailingSlash(m_header.backupDir), true);
    if (code != kErrorSuccess) {
        return code;
    }
    entry.m_backupDir = m_header.backupDir;
    code = m_fileSystem.SyncDirectory(runDir);
    if (code == kErrorSuccess && inside) {
        code = m_fileSystem.SyncDirectory(install_worker_detail::WithoutTrailingSlash(targetDir));
    }
    if (code == kErrorSuccess) {
        code = m_fileSystem.SyncDirectory(install_worker_detail::WithoutTrailingSlash(tempDir));
    }
    return code;
}

template <class FS, class Finder>
ErrorCode InstallWorker<FS, Finder>::Journal(run_journal::Step step, const stdx::u16string& path) {
    const stdx::string bytes = Utf16ToUtf8(path);
    return Journal(step, path, std::string(bytes.c_str(), bytes.size()));
}

template <class FS, class Finder>
ErrorCode InstallWorker<FS, Finder>::Journal(run_journal::Step step, const stdx::u16string& path,
                                             const std::string& bytes) {
    run_journal::Entry entry;
    entry.step = step;
    entry.path = path;
    m_journalRecord.clear();
    run_journal::AppendRecordBytes(static_cast<char>(step), bytes.data(), bytes.size(),
                                   &m_journalRecord);
    // One write per entry: in the kernel before the change it describes.
    const ErrorCode code = run_journal::WriteRecords(m_fileSystem, m_journal, m_journalRecord);
    // Kept even when the write failed: part of it may be on disk, and undoing
    // a step that never happened changes nothing.
    Current().m_journal.push_back(std::move(entry));
    return code;
}

template <class FS, class Finder>
ErrorCode InstallWorker<FS, Finder>::InstallFile(Kit& kit, std::size_t index,
                                                 const stdx::u16string& path,
                                                 const stdx::u16string& relative,
                                                 FileHandle directory, run_journal::Step step) {
    ErrorCode code = Journal(step, relative, m_recordBytes);
    if (code != kErrorSuccess) {
        return code;
    }
    if (step == run_journal::Step::Replace) {
        code = BackupFile(directory, path);
        if (code != kErrorSuccess) {
            return code;
        }
    }
    // Most files go into a directory that exists; only a missing one costs
    // the directory creation.
    if (directory == kInvalidHandle) {
        auto make = [this](FileHandle parent, const std::string& name,
                           const stdx::u16string& levelPath) {
            return MakeLevel(parent, name, levelPath);
        };
        code = m_targetDirs.Find(m_directoryBytes, &make, &directory);
        if (code != kErrorSuccess) {
            return code;
        }
    }
    code = m_fileSystem.CreateExclusiveAt(directory, m_temporaryName, false, &m_temporary);
    if (code != kErrorSuccess) {
        m_temporary = kInvalidHandle;
        return code == kErrorAlreadyExists ? kErrorInvalidParameter : code;
    }
    FileStatus written;
    code = m_fileSystem.HandleStatus(m_temporary, &written, nullptr);
    if (code == kErrorSuccess) {
        m_written.insert({written.device, written.inode});
        ProcessData* data = m_processData;
        code = kit.WriteFileTo(index, m_temporary, [data] { return data->IsCancelled(); });
    }
    m_fileSystem.Close(m_temporary);
    m_temporary = kInvalidHandle;
    if (code == kErrorSuccess) {
        // A late write error (a full disk on some file systems) shows only
        // when the file is closed.
        code = m_fileSystem.LastError();
    }
    if (code != kErrorSuccess) {
        return code;
    }
    // Only the run's own earlier copy may be replaced: anything else that
    // appeared at the name meanwhile is not the run's to overwrite.
    code = m_fileSystem.RenameAt(directory, m_temporaryName, directory, m_leafBytes,
                                 step == run_journal::Step::Overwrite);
    if (code != kErrorSuccess) {
        return code == kErrorAlreadyExists ? kErrorInvalidParameter : code;
    }
    if (step == run_journal::Step::NewFile) {
        Current().m_newFiles.push_back(path);
    }
    return kErrorSuccess;
}

template <class FS, class Finder>
ErrorCode InstallWorker<FS, Finder>::MakeLevel(FileHandle parent, const std::string& name,
                                               const stdx::u16string& path) {
    if (parent == kInvalidHandle) {
        return MakeDirectoryRecorded(path);
    }
    ErrorCode code = Journal(run_journal::Step::Directory, path);
    if (code != kErrorSuccess) {
        return code;
    }
    code = m_fileSystem.CreateDirectoryAt(parent, name, false);
    if (code == kErrorSuccess) {
        Current().m_createdDirs.push_back(path);
    }
    // Something already there: the caller opens it as a directory, which
    // fails for anything else.
    return code;
}

template <class FS, class Finder>
ErrorCode InstallWorker<FS, Finder>::MakeDirectoryRecorded(const stdx::u16string& directory) {
    const stdx::u16string path = install_worker_detail::WithoutTrailingSlash(directory);
    if (path.empty() || path == u"/") {
        return kErrorSuccess;
    }
    ErrorCode code = Journal(run_journal::Step::Directory, path);
    if (code != kErrorSuccess) {
        return code;
    }
    code = m_fileSystem.CreateDirectory(path, false);
    if (code == kErrorNotFound) {
        const std::size_t slash = path.rfind(u'/');
        if (slash == stdx::u16string::npos) {
            return kErrorNoParent;
        }
        code = MakeDirectoryRecorded(slash == 0 ? stdx::u16string(u"/") : path.substr(0, slash));
        if (code != kErrorSuccess) {
            return code;
        }
        code = m_fileSystem.CreateDirectory(path, false);
    }
    if (code == kErrorSuccess) {
        Current().m_createdDirs.push_back(path);
        return kErrorSuccess;
    }
    // Something already there: a directory serves, anything else makes the
    // file creation inside it fail.
    return code == kErrorAlreadyExists ? kErrorSuccess : code;
}

template <class FS, class Finder>
ErrorCode InstallWorker<FS, Finder>::BackupFile(FileHandle directory, const stdx::u16string& path) {
    // The backup tree is private to the run: its levels are made as needed,
    // not journalled (undo removes the whole backup directory).
    auto make = [this](FileHandle parent, const std::string& name, const stdx::u16string&) {
        return m_fileSystem.CreateDirectoryAt(parent, name, true);
    };
    FileHandle backup = kInvalidHandle;
    ErrorCode code = m_backupDirs.Find(m_directoryBytes, &make, &backup);
    if (code == kErrorSuccess) {
        // No-replace: a backup already there is an original, never to be
        // lost.
        code = m_fileSystem.RenameAt(directory, m_leafBytes, backup, m_leafBytes, false);
    }
    if (code != kErrorSuccess) {
        return code == kErrorAlreadyExists ? kErrorInvalidParameter : code;
    }
    Current().m_backedUpFiles.push_back(path);
    return kErrorSuccess;
}

template <class FS, class Finder>
ErrorCode InstallWorker<FS, Finder>::Rollback(ErrorCode code) {
    BackupEntry& entry = Current();
    if (m_temporary != kInvalidHandle) {
        m_fileSystem.Close(m_temporary);
        m_temporary = kInvalidHandle;
    }
    // The undo works by path, from the journal alone, as a recovery would.
    m_targetDirs.Close();
    m_backupDirs.Close();
    if (entry.m_runDir.empty()) {
        return code;
    }
    run_undo::UndoCounts counts;
    const bool restored =
        run_undo::Undo<FS, Finder>(m_fileSystem, m_header, entry.m_journal, &counts);
    if (restored) {
        run_undo::RemoveRun(m_fileSystem, entry.m_runDir, stdx::u16string());
    } else {
        // The backup is the only copy of the files not moved back: it stays,
        // and so does the journal, so that the next start tries again.
        m_processData->SetKeptBackup(m_header.backupDir);
    }
    if (m_journal != kInvalidHandle) {
        m_fileSystem.Close(m_journal);
        m_journal = kInvalidHandle;
    }
    if (m_sink != nullptr) {
        m_sink->OnRollback(counts.restored, counts.removed);
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
