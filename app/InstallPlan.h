#pragma once

#include <cstdint>
#include <string>

#include "engine/DirectoryHandles.h"
#include "engine/FilePlanner.h"
#include "engine/fs/FileSystem.h"
#include "text/String.h"

// "install", "replace", "repair", "skip" or "conflict".
const char* PlanActionName(FileDecision action);

// How many kit files would take each action.
struct PlanCounts {
    int install = 0;
    int replace = 0;
    int repair = 0;
    int skip = 0;
    int conflict = 0;

    void Add(FileDecision action);
    // "N install, N replace, N skip, N conflict", followed by ", N repair"
    // when a file would be repaired.
    stdx::string Summary() const;
};

// What an installation would do with the kit file `relative` (UTF-8, "/"
// between levels) of recordTime and recordSize: the installation's own
// rule (FilePlanner), looking only; a place that cannot be looked at is a
// conflict. Changes nothing.
template <class FS>
FileDecision ClassifyKitFile(FilePlanner<FS>& planner, const std::string& relative,
                             FileTime recordTime, std::uint64_t recordSize) {
    const std::size_t slash = relative.rfind('/');
    typename FilePlanner<FS>::Look look;
    if (planner.Plan(slash == std::string::npos ? std::string() : relative.substr(0, slash),
                     slash == std::string::npos ? relative : relative.substr(slash + 1), recordTime,
                     recordSize, &look) != kErrorSuccess) {
        return FileDecision::Conflict;
    }
    return look.decision;
}
