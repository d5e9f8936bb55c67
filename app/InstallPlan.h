#pragma once

#include <cstdint>

#include "engine/fs/FileSystem.h"
#include "engine/fs/StoredTimeRules.h"
#include "text/String.h"

// What an installation would do with one kit file, for the dry run.
enum class PlanAction {
    Install,   // nothing stands at its place
    Replace,   // an older regular file stands there
    Skip,      // a regular file at least as new stands there
    Conflict,  // something else stands there, or in the way of its folder:
               // the installation would fail
};

// "install", "replace", "skip" or "conflict".
const char* PlanActionName(PlanAction action);

// How many kit files would take each action.
struct PlanCounts {
    int install = 0;
    int replace = 0;
    int skip = 0;
    int conflict = 0;

    void Add(PlanAction action);
    // "N install, N replace, N skip, N conflict".
    stdx::string Summary() const;
};

// Classifies the kit file relativePath ("/" separated) with recordTime for
// the template directory targetDir (ending with "/"), looking only, through
// fs.Status: every folder between targetDir and the file must be a real
// directory or missing (a file, a link or a FIFO there is a conflict); at the
// file's place nothing means Install, a regular file Replace or Skip by its
// time in whole seconds against what storedTimes says the file system keeps
// of the record's time, and anything else (a directory, a link, a FIFO, a
// socket, a device, a path that cannot be examined) Conflict. Changes
// nothing.
template <class FS>
PlanAction ClassifyKitFile(FS& fs, StoredTimeRules<>& storedTimes, const stdx::u16string& targetDir,
                           const stdx::u16string& relativePath, FileTime recordTime) {
    FileStatus status;
    for (std::size_t slash = relativePath.find(u'/'); slash != stdx::u16string::npos;
         slash = relativePath.find(u'/', slash + 1)) {
        if (fs.Status(targetDir + relativePath.substr(0, slash), &status) != kErrorSuccess) {
            return PlanAction::Conflict;
        }
        if (status.type == FileType::Missing) {
            return PlanAction::Install;
        }
        if (status.type != FileType::Directory) {
            return PlanAction::Conflict;
        }
    }
    if (fs.Status(targetDir + relativePath, &status) != kErrorSuccess) {
        return PlanAction::Conflict;
    }
    switch (status.type) {
        case FileType::Missing:
            return PlanAction::Install;
        case FileType::Regular: {
            constexpr FileTime kTicksPerSecond = 10000000;
            const FileTime stored = storedTimes.Of(targetDir).Apply(recordTime);
            return status.modified / kTicksPerSecond >= stored / kTicksPerSecond
                       ? PlanAction::Skip
                       : PlanAction::Replace;
        }
        default:
            return PlanAction::Conflict;
    }
}
