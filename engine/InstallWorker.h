#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

// RunCommit.h brings the rooms a run is made of: its place, its plan, its
// writing threads, its journal, its durability points, its events.
#include "engine/InstallProcessData.h"
#include "engine/PlanPass.h"
#include "engine/RunCommit.h"
#include "engine/RunUndo.h"
#include "engine/fs/FileSystemFeatures.h"
#include "kit/InstallData.h"
#include "kit/KitName.h"
#include "text/Languages.h"

// One installation run: installs every kit file that is newer than the
// installed copy (or whose installed copy is damaged) into the template
// directory, all or nothing, however the run ends. It decides every file
// (PlanPass, FilePlanner), then walks the kit in order, writing each one to
// install whole into the run's stage directory (StagingPool), then commits
// (RunCommit): journal, durability, renames into place, durability, "C".
// A failure, a cancel, or (through RecoverInterruptedRuns) a killed or
// powerless process ends with the template directory as it was, or, once
// "C" is durable, fully installed. RunJournal.h tells the order and why.
//
// The disk is reached only through the FS policy, and the kit is read
// through the same policy, so that tests can fail or cut any operation.
template <class FS>
class InstallWorker {
public:
    using Kit = InstallData<LZCompressor, FS>;
    using ProcessData = BasicInstallProcessData<Kit>;

    // The pause after the 100 percent status, so that the user sees the
    // finished state before the thread ends.
    static constexpr std::chrono::milliseconds kFinishPause{1000};
    // With writers of their own, the walk posts a file's status at least
    // every this many files (and whenever the percent moves).
    static constexpr std::size_t kStatusFiles = 16;

    InstallWorker() = default;
    InstallWorker(const InstallWorker&) = delete;
    InstallWorker& operator=(const InstallWorker&) = delete;

    // Performs one run with the kit and the target directory of
    // processData, posting its progress there: before each record its
    // installed path and i * 100 / n. Returns 0 after success (the last
    // status is 0, "IDS_INSTALL_FINISH", 100, posted only once every file
    // and the journal's "C" are durable, followed by the finish pause), or
    // the code that ended the run once it has been rolled back (its status
    // posted as described at InstallProcessDataBase, with the percent of
    // the file that failed). Codes: those of the FS operations and of
    // Kit::WriteFileTo; 87 for a missing kit, an empty or relative target
    // directory, an unsafe kit name, anything but a regular file where a kit
    // file goes or anything but a directory (a link to one included) at a
    // level between the target directory and a kit file, found before
    // anything is changed; 1223 for a cancel. When the rollback could not
    // move every earlier file back, the backup directory is kept (and named
    // with SetKeptBackup) and so is the journal, for the next start. Must
    // not be called with a null processData.
    ErrorCode Run(ProcessData* processData);

    // Tests and benchmarks shorten the pause after success.
    void SetFinishPause(std::chrono::milliseconds pause) { m_finishPause = pause; }
    // The threads that write files, 1 (the default: the calling thread) to
    // run_names::kMaxWriters.
    void SetWriters(std::size_t writers) {
        m_writerCount = std::min(std::max<std::size_t>(writers, 1), run_names::kMaxWriters);
    }
    // The writers worth having on this machine: two when it has two cores.
    static std::size_t DefaultWriters() {
        return std::thread::hardware_concurrency() >= 2 ? run_names::kMaxWriters : 1;
    }
    // One entry per run, the last one for the latest run.
    const std::vector<BackupEntry>& Entries() const { return m_entries; }

private:
    // Goes through the records in kit order, posting progress, telling the
    // events and staging the files to write, up to record stopAt, where the
    // plan failed with stopCode. 0 or the code that ends the run; *percent
    // is that of the record in hand.
    ErrorCode Walk(Kit& kit, std::size_t stopAt, ErrorCode stopCode, std::int32_t* percent);
    // Tells the events of record index's decision, unless it may name a
    // file an earlier record writes: then it is only proposed.
    void Tell(std::size_t index);
    // Whether record index, to be written, goes into the stage's tree: a
    // new file of a folder the template directory lacks, which no other
    // record may name. Its folder is then put in place whole, with one
    // rename that must not replace anything (where the platform has one).
    bool StagesInTree(std::size_t index) const;
    // Undoes the run from its journal on disk and returns code.
    ErrorCode Rollback(ErrorCode code);
    // Rolls back, then posts code with the text of its key and percent, so
    // that the final status is seen only once the rollback is over.
    ErrorCode ReportFailure(ErrorCode code, std::int32_t percent) {
        Rollback(code);
        m_processData->SetStatus(code, LocalizedString(FailureTextKey(code)), percent);
        return code;
    }
    BackupEntry& Current() { return m_entries.back(); }

    std::vector<BackupEntry> m_entries;
    ProcessData* m_processData = nullptr;
    FS m_fileSystem;
    std::size_t m_writerCount = 1;
    std::size_t m_writers = 1;
    std::chrono::milliseconds m_finishPause = kFinishPause;
    RunPlace m_place;
    RunPlan m_plan;
    // Whether the commit exchanged earlier copies into the stage, where a
    // rollback that cannot read the journal back leaves them.
    bool m_exchanged = false;
    NameAliases m_aliases;
    OrderedEvents m_events;
    DirectoryHandles<FS> m_targets{m_fileSystem};
    // What the template directory's file systems keep of a time. Probed
    // through the plain file system: the probe is no step of the run.
    StoredTimeRules<> m_storedTimeRules;
    FilePlanner<FS> m_planner{m_fileSystem, m_targets, m_storedTimeRules};
    PlanPass<FS, Kit> m_pass{m_fileSystem, m_planner, m_storedTimeRules};
    DurableSync<FS> m_durable{m_fileSystem};
    JournalWriter<FS> m_journal{m_fileSystem};
    StagingPool<FS, Kit> m_pool{m_fileSystem};
};

template <class FS>
ErrorCode InstallWorker<FS>::Run(ProcessData* processData) {
    m_processData = processData;
    Kit* kit = nullptr;
    stdx::u16string targetDir;
    m_processData->GetInstallData(&kit, &targetDir);
    m_entries.emplace_back();
    Current().m_targetDir = targetDir;
    m_place = RunPlace();
    m_exchanged = false;
    if (kit == nullptr) {
        return ReportFailure(kErrorInvalidParameter, 0);
    }
    const std::size_t count = kit->m_files.size();
    std::vector<const stdx::u16string*> names;
    names.reserve(count);
    for (const auto& record : kit->m_files) {
        names.push_back(&record.m_name);
    }
    m_aliases.Find(names);
    // Threads pay only where there are files enough to share.
    m_writers = count < 2 ? 1 : m_writerCount;
    ErrorCode code = run_place::MakeRunPlace(
        m_fileSystem, targetDir, m_writers,
        [&names](const stdx::u16string& tag) { return run_names::AnyNameMeetsTag(names, tag); },
        &m_place);
    Current().m_runDir = m_place.runDir;
    if (code != kErrorSuccess) {
        return ReportFailure(code, 0);
    }
    Current().m_backupDir = m_place.backupDir;
    m_durable.Start(m_place.anchor);
    m_journal.Attach(m_place.journal);
    m_targets.Reset(targetDir);
    m_planner.Reset();
    m_plan = RunPlan();
    m_plan.decisions.assign(count, FileDecision::Skip);
    m_plan.deferred.assign(count, false);
    m_events.Start(m_processData->EventSink(), count, [kit](std::size_t index) {
        return path_names::InstalledPath(stdx::u16string(), kit->m_files[index].m_name);
    });
    ProcessData* data = m_processData;
    const auto cancelled = [data] { return data->IsCancelled(); };
    const NameAliases& aliases = m_aliases;
    const std::vector<FileDecision>& decisions = m_plan.decisions;
    code = m_pool.Start(*kit, m_place.stageDir, m_writers, cancelled, m_durable.PerFile(),
                        [&aliases, &decisions](std::size_t index) {
                            return aliases.HasLater(index) || RunCommit<FS, Kit>::WantsExchange(
                                                                  decisions[index], aliases, index);
                        });
    std::int32_t percent = 0;
    if (code == kErrorSuccess) {
        if (m_pass.IsEmptyTarget(targetDir)) {
            kit->WantDataAhead();
        }
        std::size_t stopAt = count;
        const ErrorCode planned =
            m_pass.Run(*kit, targetDir, m_writers, cancelled, &m_plan.decisions, &m_plan.relative,
                       &m_plan.missingLevels, &stopAt);
        m_plan.missingLevels.insert(m_planner.MissingLevels().begin(),
                                    m_planner.MissingLevels().end());
        if (planned != kErrorCancelled) {
            m_pass.TellKit(kit, m_plan.decisions, stopAt);
        }
        code = planned == kErrorCancelled ? planned : Walk(*kit, stopAt, planned, &percent);
    }
    // A kit still inflating needs none of its data when nothing is staged:
    // only its digest is taken.
    kit->SkipData();
    std::size_t failedAt = 0;
    const ErrorCode failure = m_pool.Finish(&failedAt);
    kit->EndReads();
    if (code == kErrorSuccess && failure != kErrorSuccess) {
        code = failure;
        // The file that failed, though the walk may have posted later ones.
        if (failure != kErrorCancelled) {
            percent = static_cast<std::int32_t>(static_cast<std::uint64_t>(failedAt) * 100 / count);
        }
    }
    // Nothing has changed in the template directory yet: a kit that fails
    // its digest or its signature now installs nothing.
    if (code == kErrorSuccess) {
        code = kit->FinishLoad();
    }
    RunCommit<FS, Kit> commit(m_fileSystem, m_place, m_journal, m_durable, m_targets,
                              m_storedTimeRules, m_events, Current());
    if (code == kErrorSuccess) {
        code = commit.Run(*kit, m_plan, m_pool, m_writers, m_aliases, cancelled);
        m_exchanged = commit.Exchanged();
    }
    m_events.Flush();
    if (code != kErrorSuccess) {
        return ReportFailure(code, percent);
    }
    // The run is complete, durably: what is left is removing the earlier
    // copies, which the next start also does should this process end
    // first. The final status waits for it: nothing of a run reaches the
    // disk once it is posted.
    commit.RemoveBackups(m_writers > 1);
    run_undo::RemoveRun(m_fileSystem, m_place.runDir, stdx::u16string());
    run_place::Close(m_fileSystem, &m_place);
    m_processData->SetStatus(kErrorSuccess, LocalizedString("IDS_INSTALL_FINISH"), 100);
    std::this_thread::sleep_for(m_finishPause);
    return kErrorSuccess;
}

template <class FS>
ErrorCode InstallWorker<FS>::Walk(Kit& kit, std::size_t stopAt, ErrorCode stopCode,
                                  std::int32_t* percent) {
    const std::size_t count = kit.m_files.size();
    std::int32_t posted = -1;
    for (std::size_t i = 0; i < count; ++i) {
        // Also checked before each record, so that a run over files that
        // are all up to date stops as well. The percent is still the one
        // posted last: the run has not reached this record.
        if (m_processData->IsCancelled()) {
            return kErrorCancelled;
        }
        if (m_pool.Stopped()) {
            return kErrorSuccess;
        }
        *percent = static_cast<std::int32_t>(static_cast<std::uint64_t>(i) * 100 / count);
        if (i == stopAt) {
            return stopCode;
        }
        const auto& record = kit.m_files[i];
        // With writers of their own the status is posted when the percent
        // moves and every kStatusFiles files, more often than anyone can
        // read it, so the walk stays light beside the writers.
        if (m_writers == 1 || *percent != posted || i % kStatusFiles == 0) {
            m_processData->SetStatus(kErrorSuccess,
                                     path_names::InstalledPath(m_place.targetDir, record.m_name),
                                     *percent);
            posted = *percent;
        }
        Tell(i);
        if (Writes(m_plan.decisions[i])) {
            const ErrorCode code = StagesInTree(i) ? m_pool.StageInTree(i) : m_pool.Stage(i);
            if (code != kErrorSuccess) {
                return code;
            }
        }
    }
    return kErrorSuccess;
}

template <class FS>
void InstallWorker<FS>::Tell(std::size_t index) {
    const bool deferred = m_aliases.Unsure() || m_aliases.Earlier(index) != NameAliases::kNone;
    m_plan.deferred[index] = deferred;
    const FileAction action = ActionOf(m_plan.decisions[index]);
    if (deferred) {
        m_events.Propose(index, action);
    } else {
        m_events.Decide(index, action);
    }
}

template <class FS>
bool InstallWorker<FS>::StagesInTree(std::size_t index) const {
    if (!fs_features::kExclusiveRename || m_plan.decisions[index] != FileDecision::Install ||
        m_plan.deferred[index] || m_aliases.HasLater(index)) {
        return false;
    }
    const std::string& relative = m_plan.relative[index];
    const std::size_t slash = relative.rfind('/');
    return slash != std::string::npos && m_plan.missingLevels.count(relative.substr(0, slash)) != 0;
}

template <class FS>
ErrorCode InstallWorker<FS>::Rollback(ErrorCode code) {
    m_pool.Finish(nullptr);
    m_targets.Close();
    run_undo::UndoCounts counts;
    if (!m_place.runDir.empty() && !run_undo::UndoRun(m_fileSystem, &m_place, &counts)) {
        // The backup is the only copy of the files not moved back: it stays,
        // and so does the journal, so that the next start tries again. While
        // the stage is there too, earlier copies may still lie in it: the
        // user is shown the run directory that holds both.
        FileStatus stage;
        const bool staged = m_exchanged &&
                            m_fileSystem.Status(path_names::WithoutTrailingSlash(m_place.stageDir),
                                                &stage) == kErrorSuccess &&
                            stage.type == FileType::Directory;
        m_processData->SetKeptBackup(staged ? m_place.runDir : m_place.backupDir);
    }
    run_place::Close(m_fileSystem, &m_place);
    InstallEventSink* sink = m_processData->EventSink();
    if (sink != nullptr) {
        sink->OnRollback(counts.restored, counts.removed);
    }
    return code;
}

extern template class InstallWorker<FileSystem>;
