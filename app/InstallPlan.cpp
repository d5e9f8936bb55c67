#include "app/InstallPlan.h"

#include <cstdio>

const char* PlanActionName(FileDecision action) {
    switch (action) {
        case FileDecision::Install:
            return "install";
        case FileDecision::Replace:
            return "replace";
        case FileDecision::Repair:
            return "repair";
        case FileDecision::Skip:
            return "skip";
        case FileDecision::Conflict:
            break;
    }
    return "conflict";
}

void PlanCounts::Add(FileDecision action) {
    switch (action) {
        case FileDecision::Install:
            ++install;
            break;
        case FileDecision::Replace:
            ++replace;
            break;
        case FileDecision::Repair:
            ++repair;
            break;
        case FileDecision::Skip:
            ++skip;
            break;
        case FileDecision::Conflict:
            ++conflict;
            break;
    }
}

stdx::string PlanCounts::Summary() const {
    char line[160];
    // Scripts that read the summary of a run without repairs see it as it
    // always was.
    if (repair == 0) {
        std::snprintf(line, sizeof(line), "%d install, %d replace, %d skip, %d conflict", install,
                      replace, skip, conflict);
    } else {
        std::snprintf(line, sizeof(line), "%d install, %d replace, %d skip, %d conflict, %d repair",
                      install, replace, skip, conflict, repair);
    }
    return stdx::string(line);
}
