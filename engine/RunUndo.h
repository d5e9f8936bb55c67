#pragma once

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "engine/DirectoryHandles.h"
#include "engine/DurableSync.h"
#include "engine/RunJournal.h"
#include "engine/RunNames.h"
#include "engine/RunPlace.h"
#include "engine/fs/ErrorCodes.h"
#include "engine/fs/FileSystem.h"
#include "engine/fs/PathNames.h"
#include "text/String.h"

// Undoing a run from its journal, shared by the worker's own rollback and by
// the recovery of runs whose process died or lost its power. The journal's
// format and the reasons behind each step are told in RunJournal.h.
//
// Nothing here follows a link below the template directory or inside the
// backup: every level is opened with FS::OpenDirectoryAt, and every name is
// removed, looked at or renamed relative to its open directory, so that a
// link planted in place of a folder after the run began leads nowhere.
namespace run_undo {

struct UndoCounts {
    int restored = 0;  // earlier files moved back from the backup
    int removed = 0;   // files and directories of the run removed
};

namespace detail {

// Moves every file below the open backup level `backup` (relative path
// `relative`, "" or ending with "/") back to the same path below the
// template directory, over whatever the run put there. False when anything
// could not be moved back (it stays in the backup).
template <class FS>
bool Restore(FS& fileSystem, FileHandle backup, const std::string& relative,
             const stdx::u16string& backupRoot, DirectoryHandles<FS>& targets,
             DurableSync<FS>& durable, UndoCounts* counts) {
    std::vector<std::string> names;
    if (fileSystem.ListDirectory(backup, &names) != kErrorSuccess) {
        return false;
    }
    bool restored = true;
    bool moved = false;
    for (const std::string& name : names) {
        FileStatus status;
        if (fileSystem.StatusAt(backup, name, &status) != kErrorSuccess) {
            restored = false;
            continue;
        }
        if (status.type == FileType::Directory) {
            FileHandle inner = kInvalidHandle;
            if (fileSystem.OpenDirectoryAt(backup, name, &inner) != kErrorSuccess) {
                restored = false;
                continue;
            }
            restored = Restore(fileSystem, inner, relative + name + "/", backupRoot, targets,
                               durable, counts) &&
                       restored;
            fileSystem.Close(inner);
            continue;
        }
        // Only the run put anything here, and only regular files.
        FileHandle target = kInvalidHandle;
        if (status.type != FileType::Regular ||
            targets.Find(path_names::WithoutTrailingSlash(relative), &target) != kErrorSuccess ||
            fileSystem.RenameAt(backup, name, target, name, true) != kErrorSuccess) {
            restored = false;
            continue;
        }
        ++counts->restored;
        moved = true;
        durable.NoteDirectory(path_names::WithoutTrailingSlash(
            targets.PathOf(path_names::WithoutTrailingSlash(relative))));
    }
    if (moved) {
        durable.NoteDirectory(
            path_names::WithoutTrailingSlash(backupRoot + path_names::Wide(relative)));
    }
    return restored;
}

// Whether status is that of the staged copy an "E" entry describes.
inline bool IsStagedCopy(const FileStatus& status, const run_journal::Entry& entry) {
    return status.type == FileType::Regular && status.size == entry.size &&
           FileSystem::ToUnixSeconds(status.modified) == entry.seconds;
}

// Moves every earlier copy that an exchange left in the stage directory
// (stageDir, ending with "/") to its path in the backup directory, where
// the restore finds it with the others, and makes that durable. The
// template side tells whether an exchange reached the disk: only then does
// it hold the staged copy, which was durable before any exchange began.
// The stage side cannot tell: after a cut before that point it may hold
// any part of the staged copy, which then looks like neither. Where the
// template side is gone (removed by someone since, or a level of it is no
// longer a folder), a stage side that is not the staged copy is taken for
// the earlier one and kept. False when an earlier copy could not be moved,
// when the template side could not be looked at, or when both sides look
// like the staged copy (nothing then tells which is the earlier one): the
// stage directory must then stay.
template <class FS>
bool ReturnExchanged(FS& fileSystem, const stdx::u16string& stageDir,
                     const stdx::u16string& backupDir,
                     const std::vector<run_journal::Entry>& entries, DirectoryHandles<FS>& targets,
                     DurableSync<FS>& durable) {
    DirectoryHandles<FS> stages(fileSystem);
    stages.Reset(stageDir);
    DirectoryHandles<FS> backups(fileSystem);
    backups.Reset(backupDir);
    auto make = [&fileSystem, &durable](FileHandle parent, const std::string& name,
                                        const stdx::u16string& path) {
        const ErrorCode made = parent == kInvalidHandle
                                   ? fileSystem.CreateDirectory(path, true)
                                   : fileSystem.CreateDirectoryAt(parent, name, true);
        durable.NoteDirectory(path_names::ParentOf(path));
        return made;
    };
    bool returned = true;
    bool moved = false;
    for (const run_journal::Entry& entry : entries) {
        if (entry.step != run_journal::Step::Exchange) {
            continue;
        }
        std::string stageFolder;
        std::string stageLeaf;
        path_names::SplitLast(path_names::Narrow(entry.stage), &stageFolder, &stageLeaf);
        std::string folder;
        std::string leaf;
        path_names::SplitLast(path_names::Narrow(entry.path), &folder, &leaf);
        FileHandle stage = kInvalidHandle;
        FileStatus staged;
        const ErrorCode found = stages.Find(stageFolder, &stage);
        if (found == kErrorNotFound) {
            continue;
        }
        if (found != kErrorSuccess ||
            fileSystem.StatusAt(stage, stageLeaf, &staged) != kErrorSuccess) {
            returned = false;
            continue;
        }
        if (staged.type == FileType::Missing) {
            continue;
        }
        FileHandle directory = kInvalidHandle;
        FileStatus there;
        if (targets.Find(folder, &directory) == kErrorSuccess &&
            fileSystem.StatusAt(directory, leaf, &there) != kErrorSuccess) {
            returned = false;
            continue;
        }
        const bool stagedThere = IsStagedCopy(there, entry);
        if (stagedThere && IsStagedCopy(staged, entry)) {
            returned = false;
            continue;
        }
        if (!stagedThere && (there.type != FileType::Missing || IsStagedCopy(staged, entry))) {
            continue;
        }
        FileHandle backup = kInvalidHandle;
        if (backups.Find(folder, &make, &backup) != kErrorSuccess ||
            fileSystem.RenameAt(stage, stageLeaf, backup, leaf, false) != kErrorSuccess) {
            returned = false;
            continue;
        }
        moved = true;
        durable.NoteDirectory(path_names::WithoutTrailingSlash(backups.PathOf(folder)));
        durable.NoteDirectory(path_names::WithoutTrailingSlash(stages.PathOf(stageFolder)));
    }
    stages.Close();
    backups.Close();
    return returned && (!moved || durable.Point({}) == kErrorSuccess);
}

}  // namespace detail

// Undoes a run: moves the earlier copies that exchanges left in its stage
// directory (in runDir, when given) into the backup directory, removes the
// stage, the temporaries of earlier versions and its new files, restores every
// backed-up file, removes the directories it created (when empty, deepest
// first), makes all of that durable, and finally removes the emptied backup
// directory. New files go before the restore: where a new file's name and a
// replaced one's meet (another case on a case-insensitive file system),
// removing the new one afterwards would remove the restored original. Safe
// to repeat after being interrupted. True when every backup was restored
// and the undo is durable; otherwise the backup directory is kept with what
// is still in it, and so must the journal be. durable has been started on
// a directory of the template's file system.
template <class FS>
bool Undo(FS& fileSystem, const stdx::u16string& runDir, const run_journal::Header& header,
          const std::vector<run_journal::Entry>& entries, DurableSync<FS>& durable,
          UndoCounts* counts) {
    using run_journal::Step;
    const stdx::u16string& target = header.targetDir;
    DirectoryHandles<FS> targets(fileSystem);
    targets.Reset(target);
    // The stage may hold earlier copies: they are in the backup directory,
    // durably, before it goes.
    bool restored = true;
    if (!runDir.empty()) {
        const stdx::u16string stage = path_names::WithTrailingSlash(runDir) + run_names::kStageName;
        restored = detail::ReturnExchanged(fileSystem, stage + u"/", header.backupDir, entries,
                                           targets, durable);
        if (restored) {
            fileSystem.RemoveTree(stage);
        }
    }

    std::set<std::string> folders;
    for (const run_journal::Entry& entry : entries) {
        if (entry.step == Step::NewFile || entry.step == Step::Replace ||
            entry.step == Step::Overwrite || entry.step == Step::Exchange) {
            std::string folder;
            std::string leaf;
            path_names::SplitLast(path_names::Narrow(entry.path), &folder, &leaf);
            folders.insert(folder);
        }
    }
    for (const std::string& folder : folders) {
        FileHandle directory = kInvalidHandle;
        if (targets.Find(folder, &directory) != kErrorSuccess) {
            continue;
        }
        for (std::size_t writer = 0; writer < run_names::kMaxWriters; ++writer) {
            if (fileSystem.RemoveFileAt(directory, path_names::Narrow(run_names::TemporaryName(
                                                       header.tag, writer))) == kErrorSuccess) {
                durable.NoteDirectory(path_names::WithoutTrailingSlash(targets.PathOf(folder)));
            }
        }
    }

    std::vector<stdx::u16string> directories;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        if (it->step == Step::Directory) {
            directories.push_back(path_names::WithoutTrailingSlash(it->path));
            continue;
        }
        if (it->step != Step::NewFile) {
            continue;
        }
        std::string folder;
        std::string leaf;
        path_names::SplitLast(path_names::Narrow(it->path), &folder, &leaf);
        FileHandle directory = kInvalidHandle;
        FileStatus status;
        // Only a file: whatever else stands there now is not the run's.
        if (targets.Find(folder, &directory) == kErrorSuccess &&
            fileSystem.StatusAt(directory, leaf, &status) == kErrorSuccess &&
            status.type == FileType::Regular &&
            fileSystem.RemoveFileAt(directory, leaf) == kErrorSuccess) {
            ++counts->removed;
            durable.NoteDirectory(path_names::WithoutTrailingSlash(targets.PathOf(folder)));
        }
    }

    // A run that failed before its header was written has no backups.
    FileHandle backup = kInvalidHandle;
    if (!header.backupDir.empty()) {
        const ErrorCode opened = fileSystem.OpenDirectoryAt(
            kInvalidHandle, path_names::Narrow(path_names::WithoutTrailingSlash(header.backupDir)),
            &backup);
        if (opened == kErrorSuccess) {
            restored = detail::Restore(fileSystem, backup, std::string(), header.backupDir, targets,
                                       durable, counts) &&
                       restored;
            fileSystem.Close(backup);
        } else {
            restored = opened == kErrorNotFound && restored;
        }
    }

    // Levels are removed deepest first; one that is not empty holds
    // something that is not the run's and stays. A level goes only once the
    // removals inside it are durable: otherwise a cut could keep the removal
    // of the journal, which follows, but not the level's emptying, and the
    // run's files in it would stay with nothing left to tell whose they
    // are. So what was removed so far is made durable before the deepest
    // levels go, and again before each level above them: one sync per
    // depth, not per folder.
    auto depth = [](const stdx::u16string& path) {
        return std::count(path.begin(), path.end(), u'/');
    };
    std::stable_sort(directories.begin(), directories.end(),
                     [&depth](const stdx::u16string& a, const stdx::u16string& b) {
                         return depth(a) > depth(b);
                     });
    for (std::size_t i = 0; i < directories.size(); ++i) {
        const stdx::u16string& directory = directories[i];
        if ((i == 0 || depth(directory) != depth(directories[i - 1])) &&
            durable.Point({}) != kErrorSuccess) {
            targets.Close();
            return false;
        }
        ErrorCode code = kErrorInvalidParameter;
        if (directory.size() > target.size() && path_names::StartsWith(directory, target)) {
            const std::string relative =
                path_names::Narrow(stdx::u16string(directory, target.size()));
            std::string folder;
            std::string leaf;
            path_names::SplitLast(relative, &folder, &leaf);
            FileHandle parent = kInvalidHandle;
            if (targets.Find(folder, &parent) == kErrorSuccess) {
                code = fileSystem.RemoveDirectoryAt(parent, leaf);
            }
        } else {
            // The template directory itself or a level above it, which the
            // user named: rmdir never follows a link at the last level.
            code = fileSystem.RemoveDirectory(directory);
        }
        if (code == kErrorSuccess) {
            ++counts->removed;
            durable.ForgetDirectory(directory);
            durable.NoteDirectory(path_names::ParentOf(directory));
        }
    }
    targets.Close();
    if (durable.Point({}) != kErrorSuccess) {
        return false;
    }
    if (restored && !header.backupDir.empty()) {
        fileSystem.RemoveTree(path_names::WithoutTrailingSlash(header.backupDir));
    }
    return restored;
}

// Removes a run directory with the journal in it, and the backup directory
// when it lies elsewhere (earlier versions). The journal goes last but one:
// as long as it is there, the next start still knows what to finish.
template <class FS>
void RemoveRun(FS& fileSystem, const stdx::u16string& runDir, const stdx::u16string& backupDir) {
    const stdx::u16string run = path_names::WithoutTrailingSlash(runDir);
    if (!backupDir.empty()) {
        fileSystem.RemoveTree(path_names::WithoutTrailingSlash(backupDir));
    }
    fileSystem.RemoveTree(run + u"/" + run_names::kBackupName);
    fileSystem.RemoveTree(run + u"/" + run_names::kStageName);
    fileSystem.RemoveFile(run + u"/" + run_names::kJournalName);
    fileSystem.RemoveTree(run);
}

// Undoes the run living at *place from its journal on disk, as a recovery
// would: what reached the kernel is all that can have been done. Without a
// journal, or without a whole header, nothing was changed. True when it
// was undone and the run directory removed; false when the journal could
// not be read back or a backup not restored: the run directory then stays,
// for the next start.
template <class FS>
bool UndoRun(FS& fileSystem, RunPlace* place, UndoCounts* counts) {
    std::string bytes;
    FileHandle reader = kInvalidHandle;
    ErrorCode read = fileSystem.Open(place->runDir + run_names::kJournalName, kAccessRead, 0,
                                     kDispositionOpenExisting, &reader, kAttributeNormal);
    if (read == kErrorSuccess) {
        read = run_journal::ReadAll(fileSystem, reader, &bytes);
        fileSystem.Close(reader);
    }
    run_journal::Header header;
    std::vector<run_journal::Entry> entries;
    if (read == kErrorNotFound ||
        (read == kErrorSuccess && !run_journal::Decode(bytes, &header, &entries))) {
        read = kErrorSuccess;
        entries.clear();
    }
    if (read != kErrorSuccess) {
        return false;
    }
    header.targetDir = place->targetDir;
    header.backupDir = place->backupDir;
    header.tag = place->tag;
    if (place->anchor == kInvalidHandle &&
        fileSystem.OpenDirectory(path_names::WithoutTrailingSlash(place->runDir), &place->anchor) !=
            kErrorSuccess) {
        return false;
    }
    DurableSync<FS> durable(fileSystem);
    durable.Start(place->anchor);
    if (!Undo(fileSystem, place->runDir, header, entries, durable, counts)) {
        return false;
    }
    RemoveRun(fileSystem, place->runDir, stdx::u16string());
    return true;
}

}  // namespace run_undo
