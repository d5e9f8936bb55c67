#pragma once
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/BatchQueues.h"
#include "engine/DirectoryHandles.h"
#include "engine/fs/ErrorCodes.h"
#include "engine/fs/FileFinder.h"
#include "engine/fs/FileSystem.h"
#include "engine/fs/StoredTimeRules.h"
#include "engine/InstallEvents.h"
#include "engine/InstallProcessData.h"
#include "engine/NameAliases.h"
#include "engine/RunJournal.h"
#include "engine/RunUndo.h"
#include "kit/InstallData.h"
#include "kit/KitName.h"
#include "text/Languages.h"
#include "text/String.h"
#include "text/StringUtils.h"

// What one run changed. The rollback works from the run's journal on disk
// (RunJournal.h), as a recovery would; these are kept small, for a kit of
// any number of files.
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
    // How many files the run wrote where nothing stood before.
    std::size_t m_newFileCount = 0;
    // The paths below the template directory (UTF-8, "/" between levels)
    // whose earlier file the run moved into m_backupDir, in the order of
    // the moves.
    std::vector<std::string> m_backedUpFiles;
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
    //
    // With more than one writer (SetWriters), files are written on that
    // many threads while this one walks the kit in order: it posts the
    // status of the file it hands on whenever the percent moves and every
    // kStatusFiles files (at most kQueueFiles files or kQueueBytes bytes
    // ahead of each writer), and the writers tell the event sink what
    // became of each file in kit order. Records that may name the same
    // file (NameAliases) go to one writer in kit order, and a kit with an
    // unsure name is written on this thread alone. The first failure or
    // cancel stops every writer; the rollback starts once all have stopped,
    // and a failure is posted with the percent of the file that failed.
    ErrorCode Run(ProcessData* processData);

    // Tests and benchmarks shorten the pause after success.
    void SetFinishPause(std::chrono::milliseconds pause) { m_finishPause = pause; }
    // The threads that write files, 1 (the default: the calling thread)
    // to run_journal::kMaxWriters.
    void SetWriters(std::size_t writers) {
        m_writerCount = writers < 1                          ? 1
                        : writers > run_journal::kMaxWriters ? run_journal::kMaxWriters
                                                             : writers;
    }
    // The writers worth having on this machine: two when it has two cores.
    static std::size_t DefaultWriters() {
        return std::thread::hardware_concurrency() >= 2 ? run_journal::kMaxWriters : 1;
    }
    // One entry per run, the last one for the latest run.
    const std::vector<BackupEntry>& Entries() const { return m_entries; }

    // Files handed to one writer and not yet finished, at most.
    static constexpr std::size_t kQueueFiles = 512;
    static constexpr std::uint64_t kQueueBytes = 32u * 1048576u;
    // Consecutive files of one directory handed to the same writer before
    // the next is chosen, so that writers mostly work in directories of
    // their own.
    static constexpr std::size_t kChunkFiles = 256;
    // Files a writer takes from its queue at once.
    static constexpr std::size_t kBatchFiles = kQueueFiles / 4;
    // What wakes a waiting writer at once: files in its queue, or the size
    // of one.
    static constexpr std::size_t kWakeFiles = 16;
    static constexpr std::uint64_t kWakeBytes = 1048576;
    // With writers of their own, the walk posts a file's status at least
    // every this many files.
    static constexpr std::size_t kStatusFiles = 16;

private:
    // One file handed to a writer: its record and its installed path (found
    // by Plan when empty), and what Plan found out for Act.
    struct Job {
        std::size_t index = 0;
        stdx::u16string path;
        // The path below the template directory in UTF-8, and where its
        // last "/" is (npos for none).
        std::string bytes;
        std::size_t slash = std::string::npos;
        bool install = false;
        run_journal::Step step = run_journal::Step::NewFile;
    };

    // What one writer owns: its directory handles, its temporary name and
    // the buffers that serve every file it writes.
    struct Writer {
        explicit Writer(FS& fileSystem) : targetDirs(fileSystem), backupDirs(fileSystem) {}
        std::size_t number = 0;
        // The open directories of the template tree and of the backup.
        DirectoryHandles<FS> targetDirs;
        DirectoryHandles<FS> backupDirs;
        // The current file below the template directory in UTF-8: its
        // directory ("" for the template directory itself) and its name.
        std::string directoryBytes;
        std::string leafBytes;
        // The directory the current plan found missing, when missingKnown.
        bool missingKnown = false;
        std::string missingDirectory;
        // Journal entries planned and not yet written, and how many.
        std::string journalRecord;
        std::size_t journalEntries = 0;
        // This writer's temporary name, in UTF-8.
        std::string temporaryName;
        // The temporary file being written, open only while its bytes go in.
        FileHandle temporary = kInvalidHandle;
        // The copy buffer of a writer other than the first (which uses the
        // kit's).
        std::unique_ptr<char[]> buffer;
    };

    BackupEntry& Current() { return m_entries.back(); }

    // Starts a new entry for targetDir, makes the run directory with its
    // locked journal, chooses and makes the backup directory, and makes all
    // of it durable. 87 for an empty or relative target; otherwise 0 or the
    // code of the failed step.
    ErrorCode PrepareRun(const stdx::u16string& targetDir, const Kit& kit);
    // Makes the writers for a run over kit and, with more than one, starts
    // their threads.
    void StartWriters(Kit& kit, std::size_t writers);
    // Waits until every writer has finished or dropped what it was given,
    // ends their threads, and returns the first failure (0 for none) and in
    // *index its record.
    ErrorCode StopWriters(std::size_t* index);
    // Hands record index to a writer, waiting while its queue is full.
    void Dispatch(const Kit& kit, std::size_t index);
    // The writer for record index: the one that has the record's nearest
    // alias, else the one of its chunk.
    std::size_t ChooseWriter(const Kit& kit, std::size_t index);
    // Notes the first failure of a writer, at record index, and stops the
    // others.
    void Fail(ErrorCode code, std::size_t index);
    // Tells the event sink, in kit order, what became of every record
    // decided and not yet told, up to the first undecided one; once stopped
    // (every writer has ended), past undecided ones, which were dropped.
    // With m_retireMutex held.
    void Retire(bool stopped);
    // Plans job and, for a file to install, writes its journal entry and
    // acts. 0 or the code of the failed step.
    ErrorCode Handle(Writer& writer, Kit& kit, Job& job);
    // Plans and acts on the jobs of one batch, those that may meet no
    // earlier one of theirs with a single journal write.
    void HandleBatch(Writer& writer, Kit& kit, std::vector<Job>& batch);
    // Looks at job's place and decides what to do (told through Decide):
    // sets job.install and job.step and, for a file to install, adds its
    // journal entry to the writer's pending ones. 0 or the code that ends
    // the run.
    ErrorCode Plan(Writer& writer, Kit& kit, Job& job);
    // Installs a planned job, whose journal entry is written. 0 or the code
    // of the failed step.
    ErrorCode Act(Writer& writer, Kit& kit, const Job& job);
    // The writer's names of job: its directory, its leaf and the whole.
    static void SetNames(Writer& writer, const Job& job);
    // What a writer decided for record index and its path below the
    // template directory: told at once on one writer, kept for Retire on
    // several.
    void Decide(std::size_t index, const stdx::u16string& relative, FileAction action);
    // Installs record index as step says (NewFile, Replace or Overwrite),
    // its journal entry written; writer's directoryBytes and leafBytes name
    // it below the template directory, and directory is the open
    // handle of its directory, or -1 when a level of it is missing. 0 or
    // the code of the failed step.
    ErrorCode InstallFile(Writer& writer, Kit& kit, std::size_t index, FileHandle directory,
                          run_journal::Step step);
    // Appends one entry to the journal.
    ErrorCode Journal(Writer& writer, run_journal::Step step, const stdx::u16string& path);
    // Adds one entry to the writer's pending ones, for the path's UTF-8
    // bytes.
    void AddEntry(Writer& writer, run_journal::Step step, const std::string& bytes);
    // Writes the writer's pending entries with one write.
    ErrorCode FlushJournal(Writer& writer);
    // Makes one missing level of the template tree for a writer's
    // targetDirs: the root by its path (MakeDirectoryRecorded), any other
    // level as name in parent, journalled first and recorded once made. 0,
    // 183 or the code of the failed step.
    ErrorCode MakeLevel(Writer& writer, FileHandle parent, const std::string& name,
                        const stdx::u16string& path);
    // Creates the directory and any missing parent, deepest level first (a
    // parent is only tried when the level itself reports it missing), each
    // level journalled before it is made and recorded once made. 0, 3 (no
    // parent to create) or the code of FS::CreateDirectory.
    ErrorCode MakeDirectoryRecorded(Writer& writer, const stdx::u16string& directory);
    // Renames the installed copy (writer's leafBytes in directory)
    // to the same relative path in the backup directory, never over
    // anything there. 0 or the code that ends the run, since the file would
    // be lost otherwise.
    ErrorCode BackupFile(Writer& writer, FileHandle directory);
    // Removes the earlier copies of a complete run, on as many threads as
    // it wrote files with when there are many.
    void RemoveBackups();
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
    void Tell(const stdx::u16string& relative, FileAction action) {
        if (m_sink != nullptr) {
            m_sink->OnFileAction(relative, action);
        }
    }
    bool Threaded() const { return m_writers.size() > 1; }

    std::vector<BackupEntry> m_entries;
    ProcessData* m_processData = nullptr;
    InstallEventSink* m_sink = nullptr;
    run_journal::Header m_header;
    FileHandle m_journal = kInvalidHandle;
    FS m_fileSystem;
    // What the template directory's file systems keep of a time, shared by
    // the writers.
    StoredTimeRules<> m_storedTimeRules;
    std::size_t m_writerCount = 1;
    std::vector<std::unique_ptr<Writer>> m_writers;
    NameAliases m_aliases;

    // Guards the journal, the run's records in Current() and m_written,
    // which writers share.
    std::mutex m_stateMutex;
    // Files the run has written, by device and inode, where a later record
    // may name them (a duplicate, or the same name in another case on a
    // case-insensitive file system): that record writes over the run's own
    // copy instead of backing it up over the backup of the original.
    std::set<std::pair<std::uint64_t, std::uint64_t>> m_written;
    ErrorCode m_failure = kErrorSuccess;
    std::size_t m_failedAt = 0;
    // Journal entries written after the header.
    std::size_t m_entriesWritten = 0;
    std::atomic<bool> m_stopped{false};

    BatchQueues<Job> m_queues{{kQueueFiles, kQueueBytes, kBatchFiles, kWakeFiles, kWakeBytes}};
    // The writer of each record handed on, and its chunk.
    std::vector<std::uint8_t> m_writerOf;
    std::size_t m_chunkWriter = 0;
    std::size_t m_chunkLeft = 0;
    // Guards the two below, which hold, for the event sink, what became of
    // each record (0 while undecided, else 1 + FileAction) and how many
    // records it has been told of.
    std::mutex m_retireMutex;
    std::unique_ptr<std::uint8_t[]> m_decided;
    std::size_t m_retired = 0;
    Kit* m_kit = nullptr;
    stdx::u16string m_targetDir;
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
    m_kit = kit;
    m_targetDir = targetDir;
    ErrorCode code = PrepareRun(targetDir, *kit);
    if (code != kErrorSuccess) {
        return ReportFailure(code, 0);
    }

    const std::size_t count = kit->m_files.size();
    {
        std::vector<const stdx::u16string*> names;
        names.reserve(count);
        for (const auto& record : kit->m_files) {
            names.push_back(&record.m_name);
        }
        m_aliases.Find(names);
    }
    // Threads pay only where there are files enough to share, and a kit
    // whose names may meet in ways this run cannot foresee is written in
    // kit order.
    StartWriters(*kit, m_aliases.Unsure() || count < 2 ? 1 : m_writerCount);
    std::int32_t percent = 0;
    std::int32_t posted = -1;
    for (std::size_t i = 0; i < count && code == kErrorSuccess; ++i) {
        // Also checked before each record, so that a run over files that are
        // all up to date stops as well. The percent is still the one posted
        // last: the run has not reached this record.
        if (m_processData->IsCancelled()) {
            code = kErrorCancelled;
            break;
        }
        if (m_stopped.load(std::memory_order_acquire)) {
            break;
        }
        percent = static_cast<std::int32_t>(static_cast<std::uint64_t>(i) * 100 / count);
        const auto& record = kit->m_files[i];
        // A loaded kit holds only safe names; the check stays here because
        // this is where a name meets the disk.
        if (!kit::IsSafeKitName(record.m_name)) {
            code = kErrorInvalidParameter;
            break;
        }
        if (Threaded()) {
            // The status names the file handed on; posted when the percent
            // moves and every kStatusFiles files, more often than anyone
            // can read it, so the walk stays light beside the writers.
            if (percent != posted || i % kStatusFiles == 0) {
                m_processData->SetStatus(
                    kErrorSuccess, install_worker_detail::InstalledPath(targetDir, record.m_name),
                    percent);
                posted = percent;
            }
            Dispatch(*kit, i);
            continue;
        }
        stdx::u16string path = install_worker_detail::InstalledPath(targetDir, record.m_name);
        m_processData->SetStatus(kErrorSuccess, path, percent);
        Job job;
        job.index = i;
        job.path = std::move(path);
        code = Handle(*m_writers.front(), *kit, job);
        if (code == kErrorSuccess && m_processData->IsCancelled()) {
            code = kErrorCancelled;
        }
    }
    std::size_t failedAt = 0;
    const ErrorCode failure = StopWriters(&failedAt);
    if (Threaded() && m_sink != nullptr) {
        std::lock_guard<std::mutex> lock(m_retireMutex);
        Retire(true);
    }
    if (code == kErrorSuccess && failure != kErrorSuccess) {
        code = failure;
        // The file that failed, though the walk may have posted later ones.
        if (failure != kErrorCancelled) {
            percent = static_cast<std::int32_t>(static_cast<std::uint64_t>(failedAt) * 100 / count);
        }
    }
    if (code != kErrorSuccess) {
        return ReportFailure(code, percent);
    }
    // Every file is in place: no handle is needed any more.
    for (const auto& writer : m_writers) {
        writer->targetDirs.Close();
        writer->backupDirs.Close();
    }

    // Every rename of the run is durable before "complete" is: a power cut
    // must never leave a complete journal over a half-done run. On a
    // journalling file system one fsync commits the whole metadata journal
    // of its file system, so this one on the template directory covers the
    // renames in every directory of the run, and the journal's own fsync
    // below covers its file system. A run that changed nothing may have no
    // template directory to sync.
    if (m_entriesWritten != 0) {
        code = m_fileSystem.SyncDirectory(install_worker_detail::WithoutTrailingSlash(targetDir));
    }
    if (code == kErrorSuccess) {
        code = Journal(*m_writers.front(), run_journal::Step::Complete, stdx::u16string());
    }
    if (code == kErrorSuccess) {
        code = m_fileSystem.Sync(m_journal);
    }
    if (code != kErrorSuccess) {
        return ReportFailure(code, percent);
    }
    // The run is complete, durably: what is left is removing the earlier
    // copies, which the next start also does should this process end
    // first. The final status waits for it: nothing of a run reaches the
    // disk once it is posted.
    RemoveBackups();
    run_undo::RemoveRun(m_fileSystem, Current().m_runDir, Current().m_backupDir);
    m_fileSystem.Close(m_journal);
    m_journal = kInvalidHandle;
    m_processData->SetStatus(kErrorSuccess, LocalizedString("IDS_INSTALL_FINISH"), 100);
    std::this_thread::sleep_for(m_finishPause);
    return kErrorSuccess;
}

template <class FS, class Finder>
void InstallWorker<FS, Finder>::StartWriters(Kit& kit, std::size_t writers) {
    m_writers.clear();
    m_written.clear();
    m_failure = kErrorSuccess;
    m_stopped = false;
    m_chunkWriter = 0;
    m_chunkLeft = 0;
    m_retired = 0;
    const std::size_t count = kit.m_files.size();
    m_decided.reset(writers > 1 && m_sink != nullptr ? new std::uint8_t[count]() : nullptr);
    m_writerOf.assign(writers > 1 ? count : 0, 0);
    for (std::size_t number = 0; number < writers; ++number) {
        auto writer = std::make_unique<Writer>(m_fileSystem);
        writer->number = number;
        writer->targetDirs.Reset(m_header.targetDir);
        writer->backupDirs.Reset(m_header.backupDir);
        const stdx::string name = Utf16ToUtf8(run_journal::TemporaryName(m_header.tag, number));
        writer->temporaryName.assign(name.c_str(), name.size());
        if (number != 0) {
            writer->buffer.reset(new char[Kit::kBufferBytes]);
        }
        m_writers.push_back(std::move(writer));
    }
    if (writers > 1) {
        m_queues.Start(
            writers,
            [this, &kit](std::size_t number, std::vector<Job>& batch) {
                HandleBatch(*m_writers[number], kit, batch);
            },
            &m_stopped);
    }
}

template <class FS, class Finder>
ErrorCode InstallWorker<FS, Finder>::StopWriters(std::size_t* index) {
    m_queues.Finish();
    std::lock_guard<std::mutex> lock(m_stateMutex);
    *index = m_failedAt;
    return m_failure;
}

template <class FS, class Finder>
void InstallWorker<FS, Finder>::Fail(ErrorCode code, std::size_t index) {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    if (m_failure == kErrorSuccess) {
        m_failure = code;
        m_failedAt = index;
    }
    m_stopped.store(true, std::memory_order_release);
}

template <class FS, class Finder>
std::size_t InstallWorker<FS, Finder>::ChooseWriter(const Kit& kit, std::size_t index) {
    const std::size_t alias = m_aliases.Earlier(index);
    if (alias != NameAliases::kNone) {
        return m_writerOf[alias];
    }
    // A new chunk starts with a new directory or after kChunkFiles files;
    // it goes to the writer with the least in hand.
    bool sameDirectory = false;
    if (index != 0 && m_chunkLeft != 0) {
        const stdx::u16string& name = kit.m_files[index].m_name;
        const stdx::u16string& before = kit.m_files[index - 1].m_name;
        const std::size_t a = name.find_last_of(u"\\/");
        const std::size_t b = before.find_last_of(u"\\/");
        sameDirectory =
            a == b && (a == stdx::u16string::npos ||
                       std::char_traits<char16_t>::compare(name.data(), before.data(), a) == 0);
    }
    if (!sameDirectory) {
        const std::size_t best = m_queues.LeastLoaded(m_chunkWriter);
        if (best != m_chunkWriter) {
            m_queues.HandOver(m_chunkWriter);
        }
        m_chunkWriter = best;
        m_chunkLeft = kChunkFiles;
    }
    --m_chunkLeft;
    return m_chunkWriter;
}

template <class FS, class Finder>
void InstallWorker<FS, Finder>::Dispatch(const Kit& kit, std::size_t index) {
    const std::size_t writer = ChooseWriter(kit, index);
    m_writerOf[index] = static_cast<std::uint8_t>(writer);
    Job job;
    job.index = index;
    // A record sent to another writer than its chunk's (for an alias) is
    // handed over at once.
    m_queues.Push(writer, std::move(job), kit.m_files[index].m_size, writer != m_chunkWriter);
}

template <class FS, class Finder>
void InstallWorker<FS, Finder>::Decide(std::size_t index, const stdx::u16string& relative,
                                       FileAction action) {
    if (!Threaded()) {
        Tell(relative, action);
        return;
    }
    if (m_sink == nullptr) {
        return;
    }
    // Whichever writer decides the next record to tell tells it, and every
    // decided one after it.
    std::lock_guard<std::mutex> lock(m_retireMutex);
    m_decided[index] = static_cast<std::uint8_t>(1 + static_cast<int>(action));
    Retire(false);
}

template <class FS, class Finder>
void InstallWorker<FS, Finder>::Retire(bool stopped) {
    const std::size_t count = m_kit->m_files.size();
    while (m_retired < count) {
        const std::uint8_t decided = m_decided[m_retired];
        if (decided != 0) {
            const stdx::u16string path =
                install_worker_detail::InstalledPath(m_targetDir, m_kit->m_files[m_retired].m_name);
            Tell(stdx::u16string(path, m_targetDir.size()), static_cast<FileAction>(decided - 1));
        } else if (!stopped) {
            break;
        }
        ++m_retired;
    }
}

template <class FS, class Finder>
void InstallWorker<FS, Finder>::SetNames(Writer& writer, const Job& job) {
    if (job.slash == std::string::npos) {
        writer.directoryBytes.clear();
        writer.leafBytes = job.bytes;
    } else {
        writer.directoryBytes.assign(job.bytes, 0, job.slash);
        writer.leafBytes.assign(job.bytes, job.slash + 1, std::string::npos);
    }
}

template <class FS, class Finder>
ErrorCode InstallWorker<FS, Finder>::Handle(Writer& writer, Kit& kit, Job& job) {
    ErrorCode code = Plan(writer, kit, job);
    if (code == kErrorSuccess && job.install) {
        code = FlushJournal(writer);
        if (code == kErrorSuccess) {
            code = Act(writer, kit, job);
        }
    }
    return code;
}

template <class FS, class Finder>
void InstallWorker<FS, Finder>::HandleBatch(Writer& writer, Kit& kit, std::vector<Job>& batch) {
    // After a failure or a cancel the rest is dropped: the rollback waits
    // for this thread. A copy cut short because another writer failed is
    // not a failure of its own.
    auto stop = [this](ErrorCode code, const Job& job) {
        if (code != kErrorSuccess && (code != kErrorCancelled || m_processData->IsCancelled())) {
            Fail(code, job.index);
        }
        return code != kErrorSuccess || m_stopped.load(std::memory_order_acquire);
    };
    std::size_t next = 0;
    while (next < batch.size()) {
        // Planned together up to a job that may name a file of an earlier
        // one, which must see that one in place first.
        std::size_t end = next;
        ErrorCode code = kErrorSuccess;
        while (end < batch.size() && code == kErrorSuccess) {
            if (end > next && m_aliases.Earlier(batch[end].index) != NameAliases::kNone) {
                break;
            }
            if (m_stopped.load(std::memory_order_acquire)) {
                return;
            }
            code = m_processData->IsCancelled() ? kErrorCancelled : Plan(writer, kit, batch[end]);
            ++end;
        }
        if (code == kErrorSuccess) {
            code = FlushJournal(writer);
        }
        if (stop(code, batch[end - 1])) {
            return;
        }
        for (std::size_t k = next; k < end; ++k) {
            if (!batch[k].install) {
                continue;
            }
            code = m_processData->IsCancelled() ? kErrorCancelled : Act(writer, kit, batch[k]);
            if (stop(code, batch[k])) {
                return;
            }
        }
        next = end;
    }
}

template <class FS, class Finder>
ErrorCode InstallWorker<FS, Finder>::Plan(Writer& writer, Kit& kit, Job& job) {
    const std::size_t i = job.index;
    const auto& record = kit.m_files[i];
    // A writer thread finds the installed path itself, off the walk.
    if (job.path.empty()) {
        job.path = install_worker_detail::InstalledPath(m_targetDir, record.m_name);
    }
    const stdx::u16string relative(job.path, m_targetDir.size());
    const stdx::string bytes = Utf16ToUtf8(relative);
    job.bytes.assign(bytes.c_str(), bytes.size());
    job.slash = job.bytes.rfind('/');
    job.install = false;
    SetNames(writer, job);
    // Each level is opened without following a link, so a link or a
    // file planted in place of a directory fails the run here, before
    // anything is written through it. Then lstat of the literal name: a
    // pattern character is just a character, and a link is never
    // followed.
    // A directory found missing stays so for the rest of the plan: only
    // this writer's Act makes it (or another writer, for files of its own).
    FileHandle directory = kInvalidHandle;
    ErrorCode code = kErrorNotFound;
    if (!writer.missingKnown || writer.missingDirectory != writer.directoryBytes) {
        code = writer.targetDirs.Find(writer.directoryBytes, &directory);
    }
    FileStatus status;
    if (code == kErrorSuccess) {
        // A directory this writer made holds only what the run wrote there:
        // a name no earlier record can share is free. Should anything else
        // appear there meanwhile, the no-replace rename refuses it.
        if (m_aliases.Earlier(i) != NameAliases::kNone || !writer.targetDirs.LastMade()) {
            code = m_fileSystem.StatusAt(directory, writer.leafBytes, &status);
        }
    } else if (code == kErrorNotFound) {
        // A missing level: the file is missing too.
        writer.missingKnown = true;
        writer.missingDirectory = writer.directoryBytes;
        code = kErrorSuccess;
    }
    if (code != kErrorSuccess) {
        return code;
    }
    run_journal::Step step = run_journal::Step::NewFile;
    FileAction action = FileAction::Install;
    if (status.type == FileType::Regular) {
        // Compared with what this file system keeps for the record's
        // time, so that a clamped copy is not taken as older every run.
        const FileTime stored =
            writer.targetDirs.LastRule(m_storedTimeRules).Apply(record.m_lastWriteTime);
        if (install_worker_detail::WholeSeconds(status.modified) >=
            install_worker_detail::WholeSeconds(stored)) {
            Decide(i, relative, FileAction::Skip);
            return kErrorSuccess;
        }
        bool written = false;
        {
            std::lock_guard<std::mutex> lock(m_stateMutex);
            written = m_written.count({status.device, status.inode}) != 0;
        }
        if (written) {
            step = run_journal::Step::Overwrite;
        } else {
            step = run_journal::Step::Replace;
            action = FileAction::Replace;
        }
    } else if (status.type != FileType::Missing) {
        // A directory, a link, a pipe, a socket or a device: replacing it
        // would lose what it is, and opening it could hang.
        return kErrorInvalidParameter;
    }
    Decide(i, relative, action);
    job.install = true;
    job.step = step;
    AddEntry(writer, step, job.bytes);
    return kErrorSuccess;
}

template <class FS, class Finder>
ErrorCode InstallWorker<FS, Finder>::Act(Writer& writer, Kit& kit, const Job& job) {
    writer.missingKnown = false;
    SetNames(writer, job);
    FileHandle directory = kInvalidHandle;
    ErrorCode code = writer.targetDirs.Find(writer.directoryBytes, &directory);
    if (code == kErrorNotFound) {
        directory = kInvalidHandle;
    } else if (code != kErrorSuccess) {
        return code;
    }
    return InstallFile(writer, kit, job.index, directory, job.step);
}

template <class FS, class Finder>
ErrorCode InstallWorker<FS, Finder>::PrepareRun(const stdx::u16string& targetDir, const Kit& kit) {
    m_entries.emplace_back();
    BackupEntry& entry = Current();
    entry.m_targetDir = targetDir;
    m_header = run_journal::Header();
    m_writers.clear();
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
ErrorCode InstallWorker<FS, Finder>::Journal(Writer& writer, run_journal::Step step,
                                             const stdx::u16string& path) {
    const stdx::string bytes = Utf16ToUtf8(path);
    AddEntry(writer, step, std::string(bytes.c_str(), bytes.size()));
    return FlushJournal(writer);
}

template <class FS, class Finder>
void InstallWorker<FS, Finder>::AddEntry(Writer& writer, run_journal::Step step,
                                         const std::string& bytes) {
    run_journal::AppendRecordBytes(static_cast<char>(step), bytes.data(), bytes.size(),
                                   &writer.journalRecord);
    ++writer.journalEntries;
}

template <class FS, class Finder>
ErrorCode InstallWorker<FS, Finder>::FlushJournal(Writer& writer) {
    if (writer.journalEntries == 0) {
        return kErrorSuccess;
    }
    ErrorCode code = kErrorSuccess;
    {
        // In the kernel before the changes the entries describe.
        std::lock_guard<std::mutex> lock(m_stateMutex);
        code = run_journal::WriteRecords(m_fileSystem, m_journal, writer.journalRecord);
        m_entriesWritten += writer.journalEntries;
    }
    writer.journalRecord.clear();
    writer.journalEntries = 0;
    return code;
}

template <class FS, class Finder>
ErrorCode InstallWorker<FS, Finder>::InstallFile(Writer& writer, Kit& kit, std::size_t index,
                                                 FileHandle directory, run_journal::Step step) {
    ErrorCode code = kErrorSuccess;
    if (step == run_journal::Step::Replace) {
        code = BackupFile(writer, directory);
        if (code != kErrorSuccess) {
            return code;
        }
    }
    // Most files go into a directory that exists; only a missing one costs
    // the directory creation.
    if (directory == kInvalidHandle) {
        auto make = [this, &writer](FileHandle parent, const std::string& name,
                                    const stdx::u16string& levelPath) {
            return MakeLevel(writer, parent, name, levelPath);
        };
        code = writer.targetDirs.Find(writer.directoryBytes, &make, &directory);
        if (code != kErrorSuccess) {
            return code;
        }
    }
    code =
        m_fileSystem.CreateExclusiveAt(directory, writer.temporaryName, false, &writer.temporary);
    if (code != kErrorSuccess) {
        writer.temporary = kInvalidHandle;
        return code == kErrorAlreadyExists ? kErrorInvalidParameter : code;
    }
    // Only a file that a later record may name again needs to be known.
    if (m_aliases.HasLater(index)) {
        FileStatus written;
        code = m_fileSystem.HandleStatus(writer.temporary, &written, nullptr);
        if (code == kErrorSuccess) {
            std::lock_guard<std::mutex> lock(m_stateMutex);
            m_written.insert({written.device, written.inode});
        }
    }
    if (code == kErrorSuccess) {
        ProcessData* data = m_processData;
        const std::atomic<bool>* stopped = &m_stopped;
        code = kit.WriteFileTo(
            index, writer.temporary,
            [data, stopped] {
                return data->IsCancelled() || stopped->load(std::memory_order_relaxed);
            },
            writer.buffer.get());
    }
    m_fileSystem.Close(writer.temporary);
    writer.temporary = kInvalidHandle;
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
    code = m_fileSystem.RenameAt(directory, writer.temporaryName, directory, writer.leafBytes,
                                 step == run_journal::Step::Overwrite);
    if (code != kErrorSuccess) {
        return code == kErrorAlreadyExists ? kErrorInvalidParameter : code;
    }
    if (step == run_journal::Step::NewFile) {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        ++Current().m_newFileCount;
    }
    return kErrorSuccess;
}

template <class FS, class Finder>
ErrorCode InstallWorker<FS, Finder>::MakeLevel(Writer& writer, FileHandle parent,
                                               const std::string& name,
                                               const stdx::u16string& path) {
    if (parent == kInvalidHandle) {
        return MakeDirectoryRecorded(writer, path);
    }
    ErrorCode code = Journal(writer, run_journal::Step::Directory, path);
    if (code != kErrorSuccess) {
        return code;
    }
    code = m_fileSystem.CreateDirectoryAt(parent, name, false);
    if (code == kErrorSuccess) {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        Current().m_createdDirs.push_back(path);
    }
    // Something already there: the caller opens it as a directory, which
    // fails for anything else.
    return code;
}

template <class FS, class Finder>
ErrorCode InstallWorker<FS, Finder>::MakeDirectoryRecorded(Writer& writer,
                                                           const stdx::u16string& directory) {
    const stdx::u16string path = install_worker_detail::WithoutTrailingSlash(directory);
    if (path.empty() || path == u"/") {
        return kErrorSuccess;
    }
    ErrorCode code = Journal(writer, run_journal::Step::Directory, path);
    if (code != kErrorSuccess) {
        return code;
    }
    code = m_fileSystem.CreateDirectory(path, false);
    if (code == kErrorNotFound) {
        const std::size_t slash = path.rfind(u'/');
        if (slash == stdx::u16string::npos) {
            return kErrorNoParent;
        }
        code = MakeDirectoryRecorded(writer,
                                     slash == 0 ? stdx::u16string(u"/") : path.substr(0, slash));
        if (code != kErrorSuccess) {
            return code;
        }
        code = m_fileSystem.CreateDirectory(path, false);
    }
    if (code == kErrorSuccess) {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        Current().m_createdDirs.push_back(path);
        return kErrorSuccess;
    }
    // Something already there: a directory serves, anything else makes the
    // file creation inside it fail.
    return code == kErrorAlreadyExists ? kErrorSuccess : code;
}

template <class FS, class Finder>
ErrorCode InstallWorker<FS, Finder>::BackupFile(Writer& writer, FileHandle directory) {
    // The backup tree is private to the run: its levels are made as needed,
    // not journalled (undo removes the whole backup directory).
    auto make = [this](FileHandle parent, const std::string& name, const stdx::u16string&) {
        return m_fileSystem.CreateDirectoryAt(parent, name, true);
    };
    FileHandle backup = kInvalidHandle;
    ErrorCode code = writer.backupDirs.Find(writer.directoryBytes, &make, &backup);
    if (code == kErrorSuccess) {
        // No-replace: a backup already there is an original, never to be
        // lost.
        code = m_fileSystem.RenameAt(directory, writer.leafBytes, backup, writer.leafBytes, false);
    }
    if (code != kErrorSuccess) {
        return code == kErrorAlreadyExists ? kErrorInvalidParameter : code;
    }
    std::lock_guard<std::mutex> lock(m_stateMutex);
    Current().m_backedUpFiles.push_back(writer.directoryBytes.empty()
                                            ? writer.leafBytes
                                            : writer.directoryBytes + "/" + writer.leafBytes);
    return kErrorSuccess;
}

template <class FS, class Finder>
void InstallWorker<FS, Finder>::RemoveBackups() {
    // Removing a file costs about as much as writing one, so a run that
    // replaced many shares the removal as it shared the writing. What is
    // left (the directories) goes with the run directory.
    const std::vector<std::string>& backedUp = Current().m_backedUpFiles;
    if (m_writerCount < 2 || backedUp.size() < kChunkFiles) {
        return;
    }
    auto remove = [this, &backedUp](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            m_fileSystem.RemoveFile(
                m_header.backupDir +
                Utf8ToUtf16(stdx::string(backedUp[i].data(), backedUp[i].size())));
        }
    };
    const std::size_t half = backedUp.size() / 2;
    std::thread helper(remove, 0, half);
    remove(half, backedUp.size());
    helper.join();
}

template <class FS, class Finder>
ErrorCode InstallWorker<FS, Finder>::Rollback(ErrorCode code) {
    BackupEntry& entry = Current();
    // The undo works by path, from the journal alone, as a recovery would.
    m_writers.clear();
    if (entry.m_runDir.empty()) {
        return code;
    }
    // The undo works from the journal on disk, as a recovery would: what
    // reached the kernel is all that can have been done. A journal that
    // cannot be read back is left, with the backup, for the next start.
    std::string bytes;
    FileHandle reader = kInvalidHandle;
    ErrorCode read = m_fileSystem.Open(entry.m_runDir + run_journal::JournalName(), kAccessRead, 0,
                                       kDispositionOpenExisting, &reader, kAttributeNormal);
    if (read == kErrorSuccess) {
        read = run_journal::ReadAll(m_fileSystem, reader, &bytes);
        m_fileSystem.Close(reader);
    }
    run_journal::Header header;
    std::vector<run_journal::Entry> entries;
    // Without a journal, or without a whole header, nothing was changed yet.
    if (read == kErrorNotFound ||
        (read == kErrorSuccess && !run_journal::Decode(bytes, &header, &entries))) {
        read = kErrorSuccess;
        entries.clear();
    }
    run_undo::UndoCounts counts;
    const bool restored = read == kErrorSuccess &&
                          run_undo::Undo<FS, Finder>(m_fileSystem, m_header, entries, &counts);
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
