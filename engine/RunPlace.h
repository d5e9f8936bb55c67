#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <thread>
#include <vector>

#include "engine/RunJournal.h"
#include "engine/RunNames.h"
#include "engine/fs/ErrorCodes.h"
#include "engine/fs/FileSystem.h"
#include "engine/fs/PathNames.h"
#include "text/String.h"
#include "text/StringUtils.h"

// Where one run keeps what it owns (RunJournal.h tells the layout and the
// reasons), and the making of it.
struct RunPlace {
    // The template directory, absolute, ending with "/".
    stdx::u16string targetDir;
    // The run directory and its backup and stage directories, each ending
    // with "/".
    stdx::u16string runDir;
    stdx::u16string backupDir;
    stdx::u16string stageDir;
    stdx::u16string tag;
    // In the temporary directory ("qrstp<N>"), or hidden beside the template
    // directory (".qa-<tag>.run").
    bool inTemp = true;
    // The template directory and those of its parents that do not exist,
    // the template directory first (no trailing "/"): a run that writes a
    // file creates them.
    std::vector<stdx::u16string> missingLevels;
    // The journal, open and locked for as long as the run lives, and the run
    // directory, open for the run's durability points.
    FileHandle journal = kInvalidHandle;
    FileHandle anchor = kInvalidHandle;
};

namespace run_place {

// Takes the lock that keeps a run being made and a recovery looking at the
// same directory from meeting half-made run directories: flock(2) on the
// directory itself. Returns the locked handle, or -1 when it could not be
// had within about two seconds (the caller goes on without it: another
// process holding it must not stop the installer).
template <class FS>
FileHandle LockDirectory(FS& fileSystem, const stdx::u16string& directory) {
    FileHandle handle = kInvalidHandle;
    if (fileSystem.OpenDirectory(path_names::WithoutTrailingSlash(directory), &handle) !=
        kErrorSuccess) {
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

// Closes what a RunPlace holds open.
template <class FS>
void Close(FS& fileSystem, RunPlace* place) {
    if (place->anchor != kInvalidHandle) {
        fileSystem.Close(place->anchor);
        place->anchor = kInvalidHandle;
    }
    if (place->journal != kInvalidHandle) {
        fileSystem.Close(place->journal);
        place->journal = kInvalidHandle;
    }
}

// Makes the run directory for a run into targetDir (absolute, ending with
// "/"), with the journal (created exclusively, locked, its header written
// but not yet durable), the backup directory and the stage directory with
// one subdirectory for each of `writers`. nameMeetsTag(tag) tells whether a
// kit name would meet the run's private names for a tag; another is drawn
// then. 87 for a relative or empty target; otherwise 0 or the code of the
// step that failed, with whatever was made still named in *place for the
// caller's rollback.
template <class FS>
ErrorCode MakeRunPlace(FS& fileSystem, const stdx::u16string& targetDir, std::size_t writers,
                       const std::function<bool(const stdx::u16string&)>& nameMeetsTag,
                       RunPlace* place) {
    using path_names::WithoutTrailingSlash;
    *place = RunPlace();
    place->targetDir = targetDir;
    // Without an absolute directory the kit's names would land relative to
    // whatever the working directory is, and the journal could not name
    // them for a later start.
    if (targetDir.empty() || targetDir.front() != u'/') {
        return kErrorInvalidParameter;
    }
    stdx::u16string existing = WithoutTrailingSlash(targetDir);
    for (;;) {
        FileStatus status;
        const ErrorCode code = fileSystem.Status(existing, &status);
        if (code != kErrorSuccess) {
            return code;
        }
        if (status.type != FileType::Missing || existing == u"/") {
            break;
        }
        place->missingLevels.push_back(existing);
        existing = path_names::ParentOf(existing);
    }

    stdx::u16string tempDir;
    ErrorCode code = fileSystem.TempDirectory(&tempDir);
    if (code != kErrorSuccess) {
        return code;
    }
    tempDir = path_names::WithTrailingSlash(tempDir);
    StorageInfo temp;
    StorageInfo template_;
    code = fileSystem.StorageOf(existing, &template_);
    if (code != kErrorSuccess) {
        return code;
    }
    // A temporary directory held in memory, or on another file system,
    // would lose the journal in a power cut or make every backup a copy.
    place->inTemp = fileSystem.StorageOf(tempDir, &temp) == kErrorSuccess && temp.persistent &&
                    temp.device == template_.device;
    do {
        place->tag = run_names::RandomTag();
    } while (nameMeetsTag(place->tag));

    const stdx::u16string parent =
        place->inTemp ? tempDir : path_names::WithTrailingSlash(existing);
    // A recovery in another process must not take the new run directory
    // for one whose maker died before its journal was locked.
    const FileHandle parentLock = LockDirectory(fileSystem, parent);
    stdx::u16string runDir;
    if (place->inTemp) {
        // The directory must be new: an existing one may belong to another
        // run.
        constexpr std::int32_t kMaxNumber = 1000000;
        for (std::int32_t number = 0; number < kMaxNumber && runDir.empty(); ++number) {
            const stdx::u16string candidate =
                parent + run_names::kTempRunPrefix + IntToString(number, 10);
            code = fileSystem.CreateDirectory(candidate, true);
            if (code == kErrorSuccess) {
                runDir = candidate;
            } else if (code != kErrorAlreadyExists) {
                break;
            }
        }
    } else {
        runDir = parent + run_names::HiddenRunName(place->tag);
        code = fileSystem.CreateDirectory(runDir, true);
        if (code != kErrorSuccess) {
            runDir.clear();
        }
    }
    if (!runDir.empty()) {
        place->runDir = runDir + u"/";
        code = fileSystem.CreateExclusive(place->runDir + run_names::kJournalName, true,
                                          &place->journal);
        // Waits: only a look by another process's recovery can hold it, and
        // briefly.
        if (code == kErrorSuccess) {
            code = fileSystem.Lock(place->journal, true);
        }
    } else if (code == kErrorAlreadyExists || code == kErrorSuccess) {
        code = kErrorInvalidParameter;
    }
    if (parentLock != kInvalidHandle) {
        fileSystem.Close(parentLock);
    }
    if (code != kErrorSuccess) {
        return code;
    }

    place->backupDir = place->runDir + run_names::kBackupName + u"/";
    place->stageDir = place->runDir + run_names::kStageName + u"/";
    run_journal::Header header;
    header.targetDir = targetDir;
    header.backupDir = place->backupDir;
    header.tag = place->tag;
    code = run_journal::WriteRecords(fileSystem, place->journal, run_journal::EncodeHeader(header));
    if (code == kErrorSuccess) {
        code = fileSystem.CreateDirectory(WithoutTrailingSlash(place->backupDir), true);
    }
    if (code == kErrorSuccess) {
        code = fileSystem.CreateDirectory(WithoutTrailingSlash(place->stageDir), true);
    }
    for (std::size_t writer = 0; writer < writers && code == kErrorSuccess; ++writer) {
        code = fileSystem.CreateDirectory(place->stageDir + IntToString(writer, 10), true);
    }
    if (code == kErrorSuccess) {
        code = fileSystem.OpenDirectory(runDir, &place->anchor);
    }
    return code;
}

}  // namespace run_place
