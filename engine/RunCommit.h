#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/BackupEntry.h"
#include "engine/BackupRemoval.h"
#include "engine/DirectoryHandles.h"
#include "engine/DurableSync.h"
#include "engine/ExchangePass.h"
#include "engine/FilePlanner.h"
#include "engine/JournalWriter.h"
#include "engine/NameAliases.h"
#include "engine/OrderedEvents.h"
#include "engine/RunPlace.h"
#include "engine/StagingPool.h"
#include "engine/fs/ErrorCodes.h"
#include "engine/fs/FileSystem.h"
#include "engine/fs/FileSystemFeatures.h"
#include "engine/fs/PathNames.h"
#include "text/String.h"
#include "text/StringUtils.h"

// What a run's look at the kit decided, for its commit.
struct RunPlan {
    // One per record.
    std::vector<FileDecision> decisions;
    // One per record looked at: its installed path below the template
    // directory (UTF-8, "/" between levels).
    std::vector<std::string> relative;
    // Records that may name a file an earlier record writes (NameAliases):
    // looked at again once that one is in place.
    std::vector<bool> deferred;
    // The missing levels of the folders of files to write (FilePlanner).
    std::set<std::string> missingLevels;
};

// The second half of a run (steps 3 to 6 of RunJournal.h): once every file
// to write is staged, writes the journal entries of every change and makes
// them and the staged files durable, puts the files in place in kit order
// (the earlier copy into the backup first, missing levels made), makes the
// renames durable, and writes and syncs "C". Runs on the run's own thread.
template <class FS, class Kit>
class RunCommit {
public:
    RunCommit(FS& fileSystem, const RunPlace& place, JournalWriter<FS>& journal,
              DurableSync<FS>& durable, DirectoryHandles<FS>& targets, StoredTimeRules<>& rules,
              OrderedEvents& events, BackupEntry& record)
        : m_fileSystem(fileSystem),
          m_place(place),
          m_journal(journal),
          m_durable(durable),
          m_targets(targets),
          m_rules(rules),
          m_backups(fileSystem),
          m_events(events),
          m_record(record) {}

    // Commits the staged files of plan. cancelled() is asked before each
    // file; a cancel ends the commit with 1223. 0 once "C" is durable; else
    // the code of the step that failed, the run then to be undone from its
    // journal: 87 also when the template directory changed under the run
    // (a level appeared, or vanished, since the look).
    ErrorCode Run(const Kit& kit, const RunPlan& plan, const StagingPool<FS, Kit>& staged,
                  std::size_t writers, const NameAliases& aliases,
                  const std::function<bool()>& cancelled) {
        m_plan = &plan;
        m_staged = &staged;
        m_exchanges.assign(plan.decisions.size(), false);
        for (std::size_t i = 0; i < plan.decisions.size(); ++i) {
            m_exchanges[i] = Exchanges(plan, staged, aliases, i);
        }
        ErrorCode code = WriteAhead(plan);
        if (code != kErrorSuccess) {
            return code;
        }
        m_backups.Reset(m_place.backupDir);
        code = MoveTrees(staged);
        if (code == kErrorSuccess) {
            code = ExchangeAll(staged, writers, cancelled);
        }
        std::vector<FileHandle> stages(writers, kInvalidHandle);
        for (std::size_t writer = 0; writer < writers && code == kErrorSuccess; ++writer) {
            code = m_fileSystem.OpenDirectory(StageOf(writer), &stages[writer]);
        }
        for (std::size_t i = 0; i < plan.decisions.size() && code == kErrorSuccess; ++i) {
            if (cancelled()) {
                code = kErrorCancelled;
                break;
            }
            if (!Writes(plan.decisions[i])) {
                if (plan.deferred[i]) {
                    m_events.Decide(i, FileAction::Skip);
                }
                continue;
            }
            if (staged.InTree(i)) {
                ++m_record.m_newFileCount;
                continue;
            }
            if (m_exchanges[i]) {
                continue;
            }
            const std::size_t writer = staged.WriterOf(i);
            code = PutInPlace(kit, i, plan.decisions[i], plan.deferred[i], stages[writer],
                              StageOf(writer), staged.Identity(i), aliases.HasLater(i));
        }
        for (FileHandle stage : stages) {
            if (stage != kInvalidHandle) {
                m_fileSystem.Close(stage);
            }
        }
        m_backups.Close();
        m_targets.Close();
        if (code != kErrorSuccess) {
            return code;
        }
        // Every rename is durable before "C" is: a power cut must never
        // leave a complete journal over a half-done run.
        code = m_durable.Point({});
        if (code == kErrorSuccess) {
            m_journal.Add(run_journal::Step::Complete, std::string());
            code = m_journal.Write();
        }
        return code == kErrorSuccess ? m_durable.File(m_journal.Handle()) : code;
    }

    // Whether record index, to be written, is to be exchanged with the
    // copy it replaces (RunJournal.h): a plain replacement that no other
    // record may name, where the platform can exchange. Asked by the
    // writers while the walk goes on: reads only what the walk leaves alone.
    static bool WantsExchange(FileDecision decision, const NameAliases& aliases,
                              std::size_t index) {
        return fs_features::kExchangeRename && Writes(decision) &&
               decision != FileDecision::Install && !aliases.Unsure() &&
               aliases.Earlier(index) == NameAliases::kNone && !aliases.HasLater(index);
    }

    // Whether any earlier copy was exchanged into the stage.
    bool Exchanged() const { return !m_exchanged.empty(); }

    // After a Run that returned 0: removes the earlier copies, those in the
    // backup directory and those exchanges left in the stage; on threads
    // when there are many and the run wrote on several. What is left (the
    // directories) goes with the run directory.
    void RemoveBackups(bool threads) {
        backup_removal::RemoveFiles(m_fileSystem, m_place.backupDir, m_moved, threads);
        backup_removal::RemoveFiles(m_fileSystem, m_place.stageDir, m_exchanged, threads);
    }

private:
    stdx::u16string StageOf(std::size_t writer) const {
        return m_place.stageDir + IntToString(static_cast<std::int32_t>(writer), 10);
    }
    // Record index's staged copy, below the stage directory.
    std::string StageName(std::size_t index) const {
        return std::to_string(m_staged->WriterOf(index)) + "/" +
               StagingPool<FS, Kit>::NameOf(index);
    }
    bool Exchanges(const RunPlan& plan, const StagingPool<FS, Kit>& staged,
                   const NameAliases& aliases, std::size_t index) const {
        return WantsExchange(plan.decisions[index], aliases, index) && !plan.deferred[index] &&
               !staged.InTree(index) && staged.Staged(index).type == FileType::Regular;
    }

    // The entries of every change, then the first durability point: the
    // header, the entries, the run directory and every staged file.
    ErrorCode WriteAhead(const RunPlan& plan) {
        using run_journal::Step;
        for (const std::string& level : plan.missingLevels) {
            if (level.empty()) {
                for (const stdx::u16string& path : m_place.missingLevels) {
                    m_journal.Add(Step::Directory, path);
                }
            } else {
                m_journal.Add(Step::Directory, m_place.targetDir + path_names::Wide(level));
            }
        }
        for (std::size_t i = 0; i < plan.decisions.size(); ++i) {
            const FileDecision decision = plan.decisions[i];
            if (!Writes(decision)) {
                continue;
            }
            if (m_exchanges[i]) {
                const FileStatus staged = m_staged->Staged(i);
                m_journal.Add(Step::Exchange, run_journal::ExchangeBytes(
                                                  FileSystem::ToUnixSeconds(staged.modified),
                                                  staged.size, StageName(i), plan.relative[i]));
            } else {
                m_journal.Add(decision == FileDecision::Install ? Step::NewFile : Step::Replace,
                              plan.relative[i]);
            }
        }
        const ErrorCode code = m_journal.Write();
        if (code != kErrorSuccess) {
            return code;
        }
        const stdx::u16string runDir = path_names::WithoutTrailingSlash(m_place.runDir);
        m_durable.NoteDirectory(runDir);
        m_durable.NoteDirectory(path_names::ParentOf(runDir));
        m_durable.NoteDirectory(path_names::WithoutTrailingSlash(m_place.stageDir));
        return m_durable.Point({m_journal.Handle()});
    }

    // Puts every folder staged whole below the stage's tree in place, each
    // with one rename that replaces nothing: the highest of the missing
    // levels of each branch (its own levels and files came with it),
    // after the levels above it are made. 0, 87 when anything appeared at
    // its place meanwhile, or the code of the step that failed.
    ErrorCode MoveTrees(const StagingPool<FS, Kit>& staged) {
        const std::set<std::string>& made = staged.TreeDirectories();
        if (made.empty()) {
            return kErrorSuccess;
        }
        const std::set<std::string>& missing = m_plan->missingLevels;
        DirectoryHandles<FS> tree(m_fileSystem);
        tree.Reset(m_place.stageDir + StagingPool<FS, Kit>::kTreeName + u"/");
        auto make = [this](FileHandle parent, const std::string& name,
                           const stdx::u16string& path) { return MakeLevel(parent, name, path); };
        ErrorCode code = kErrorSuccess;
        for (const std::string& level : made) {
            std::string above;
            std::string name;
            path_names::SplitLast(level, &above, &name);
            if (missing.count(level) == 0 || (!above.empty() && missing.count(above) != 0)) {
                continue;
            }
            FileHandle from = kInvalidHandle;
            FileHandle into = kInvalidHandle;
            code = tree.Find(above, &from);
            if (code == kErrorSuccess) {
                code = m_targets.Find(above, &make, &into);
            }
            if (code == kErrorSuccess) {
                code = m_fileSystem.RenameAt(from, name, into, name, false);
            }
            if (code != kErrorSuccess) {
                code = code == kErrorAlreadyExists ? kErrorInvalidParameter : code;
                break;
            }
            m_durable.NoteDirectory(path_names::WithoutTrailingSlash(tree.PathOf(above)));
            m_durable.NoteDirectory(path_names::WithoutTrailingSlash(m_targets.PathOf(above)));
            // The levels came with it, their entries still to be made
            // durable where they now are.
            for (auto inside = made.lower_bound(level);
                 inside != made.end() &&
                 (*inside == level || inside->compare(0, level.size() + 1, level + "/") == 0);
                 ++inside) {
                const stdx::u16string path = m_targets.PathOf(*inside);
                m_record.m_createdDirs.push_back(path);
                m_durable.NoteDirectory(path);
            }
        }
        tree.Close();
        return code;
    }

    // Puts in place the records marked for an exchange (ExchangePass);
    // those the file system refused are unmarked, to go the other way:
    // the earlier copy renamed into the backup, which the same undo covers.
    // 0 or the code that ends the run.
    ErrorCode ExchangeAll(const StagingPool<FS, Kit>& staged, std::size_t writers,
                          const std::function<bool()>& cancelled) {
        std::vector<typename ExchangePass<FS>::Item> items;
        for (std::size_t i = 0; i < m_exchanges.size(); ++i) {
            if (m_exchanges[i]) {
                items.push_back(
                    {i, &m_plan->relative[i], staged.WriterOf(i), StagingPool<FS, Kit>::NameOf(i)});
            }
        }
        if (items.empty()) {
            return kErrorSuccess;
        }
        ExchangePass<FS> pass(m_fileSystem, m_place.targetDir, m_place.stageDir, writers);
        const ErrorCode code = pass.Run(items, writers > 1, cancelled);
        std::string folder;
        std::string leaf;
        for (std::size_t k = 0; k < items.size(); ++k) {
            const std::size_t index = items[k].index;
            if (!pass.Done(k)) {
                m_exchanges[index] = false;
                continue;
            }
            m_record.m_backedUpFiles.push_back(m_plan->relative[index]);
            m_exchanged.push_back(StageName(index));
            if (m_durable.PerFile()) {
                path_names::SplitLast(m_plan->relative[index], &folder, &leaf);
                m_durable.NoteDirectory(StageOf(items[k].writer));
                m_durable.NoteDirectory(path_names::WithoutTrailingSlash(m_targets.PathOf(folder)));
            }
        }
        return code;
    }

    // Puts staged record index in place as decision says. A deferred record
    // whose place now holds a file this run put there is decided again
    // against that file.
    ErrorCode PutInPlace(const Kit& kit, std::size_t index, FileDecision decision, bool deferred,
                         FileHandle stage, const stdx::u16string& stagePath,
                         std::pair<std::uint64_t, std::uint64_t> identity, bool hasLater) {
        const std::string& relative = m_plan->relative[index];
        std::string folder;
        std::string leaf;
        path_names::SplitLast(relative, &folder, &leaf);
        bool overwrite = false;
        ErrorCode code = kErrorSuccess;
        if (deferred) {
            FileHandle directory = kInvalidHandle;
            FileStatus status;
            code = m_targets.Find(folder, &directory);
            if (code == kErrorSuccess) {
                code = m_fileSystem.StatusAt(directory, leaf, &status);
            }
            if (code == kErrorSuccess && status.type == FileType::Regular &&
                m_written.count({status.device, status.inode}) != 0) {
                // The run's own copy from an earlier record: the later of
                // the two records wins, as on a first run in kit order.
                if (DecideFile(status, kit.m_files[index].m_lastWriteTime, status.size,
                               m_targets.LastRule(m_rules)) == FileDecision::Skip) {
                    m_events.Decide(index, FileAction::Skip);
                    return kErrorSuccess;
                }
                overwrite = true;
            }
            code = code == kErrorNotFound ? kErrorSuccess : code;
            if (code != kErrorSuccess) {
                return code;
            }
        }
        if (!overwrite && decision != FileDecision::Install) {
            code = Backup(folder, leaf);
            if (code != kErrorSuccess) {
                return code;
            }
        }
        auto make = [this](FileHandle parent, const std::string& name,
                           const stdx::u16string& path) { return MakeLevel(parent, name, path); };
        FileHandle directory = kInvalidHandle;
        code = m_targets.Find(folder, &make, &directory);
        if (code == kErrorSuccess) {
            // Only the run's own earlier copy may be replaced: anything else
            // that appeared at the name meanwhile is not the run's to
            // overwrite.
            code = m_fileSystem.RenameAt(stage, StagingPool<FS, Kit>::NameOf(index), directory,
                                         leaf, overwrite);
        }
        if (code != kErrorSuccess) {
            return code == kErrorAlreadyExists ? kErrorInvalidParameter : code;
        }
        // Named only where directories are synced one by one: a path is
        // built per file otherwise for nothing.
        if (m_durable.PerFile()) {
            m_durable.NoteDirectory(path_names::WithoutTrailingSlash(stagePath));
            m_durable.NoteDirectory(path_names::WithoutTrailingSlash(m_targets.PathOf(folder)));
        }
        if (hasLater) {
            m_written.insert(identity);
        }
        if (decision == FileDecision::Install && !overwrite) {
            ++m_record.m_newFileCount;
        }
        if (deferred) {
            m_events.Decide(index, overwrite ? FileAction::Install : ActionOf(decision));
        }
        return kErrorSuccess;
    }

    // Renames the installed copy of folder/leaf to the same relative path in
    // the backup directory, never over anything there: a backup already
    // there is an original, never to be lost.
    ErrorCode Backup(const std::string& folder, const std::string& leaf) {
        FileHandle directory = kInvalidHandle;
        ErrorCode code = m_targets.Find(folder, &directory);
        // The backup tree is private to the run: its levels are made as
        // needed, not journalled (undo removes the whole backup directory).
        auto make = [this](FileHandle parent, const std::string& name,
                           const stdx::u16string& path) {
            const ErrorCode made = m_fileSystem.CreateDirectoryAt(parent, name, true);
            m_durable.NoteDirectory(path_names::ParentOf(path));
            return made;
        };
        FileHandle backup = kInvalidHandle;
        if (code == kErrorSuccess) {
            code = m_backups.Find(folder, &make, &backup);
        }
        if (code == kErrorSuccess) {
            code = m_fileSystem.RenameAt(directory, leaf, backup, leaf, false);
        }
        if (code != kErrorSuccess) {
            return code == kErrorAlreadyExists ? kErrorInvalidParameter : code;
        }
        if (m_durable.PerFile()) {
            m_durable.NoteDirectory(path_names::WithoutTrailingSlash(m_backups.PathOf(folder)));
        }
        m_record.m_backedUpFiles.push_back(folder.empty() ? leaf : folder + "/" + leaf);
        m_moved.push_back(m_record.m_backedUpFiles.back());
        return kErrorSuccess;
    }

    // Makes one missing level of the template tree, journalled before the
    // run changed anything: the template directory itself (parent -1) with
    // every missing level above it, or name in parent. 0, 183 when
    // something appeared there meanwhile (opened next as a directory, which
    // fails for anything else), 87 for a level the journal does not name.
    ErrorCode MakeLevel(FileHandle parent, const std::string& name, const stdx::u16string& path) {
        if (parent == kInvalidHandle) {
            if (m_plan->missingLevels.count(std::string()) == 0) {
                return kErrorInvalidParameter;
            }
            for (auto level = m_place.missingLevels.rbegin(); level != m_place.missingLevels.rend();
                 ++level) {
                const ErrorCode code = m_fileSystem.CreateDirectory(*level, false);
                if (code == kErrorSuccess) {
                    m_record.m_createdDirs.push_back(*level);
                    m_durable.NoteDirectory(path_names::ParentOf(*level));
                } else if (code != kErrorAlreadyExists) {
                    return code;
                }
            }
            return kErrorSuccess;
        }
        const std::string relative =
            path_names::Narrow(stdx::u16string(path, m_place.targetDir.size()));
        if (m_plan->missingLevels.count(relative) == 0) {
            return kErrorInvalidParameter;
        }
        const ErrorCode code = m_fileSystem.CreateDirectoryAt(parent, name, false);
        if (code == kErrorSuccess) {
            m_record.m_createdDirs.push_back(path);
            m_durable.NoteDirectory(path_names::ParentOf(path));
        }
        return code;
    }

    FS& m_fileSystem;
    const RunPlace& m_place;
    JournalWriter<FS>& m_journal;
    DurableSync<FS>& m_durable;
    DirectoryHandles<FS>& m_targets;
    StoredTimeRules<>& m_rules;
    DirectoryHandles<FS> m_backups;
    OrderedEvents& m_events;
    BackupEntry& m_record;
    const RunPlan* m_plan = nullptr;
    const StagingPool<FS, Kit>* m_staged = nullptr;
    // Per record: journalled as an exchange and not yet put in place
    // otherwise; once ExchangeAll is over, exchanged.
    std::vector<bool> m_exchanges;
    // The earlier copies, below the backup directory and below the stage.
    std::vector<std::string> m_moved;
    std::vector<std::string> m_exchanged;
    // Files the run put in place, by device and inode, where a later record
    // may name them (a duplicate, or the same name in another case on a
    // case-insensitive file system): that record replaces the run's own
    // copy instead of backing it up over the backup of the original.
    std::set<std::pair<std::uint64_t, std::uint64_t>> m_written;
};
