#include "app/InstallPlan.h"

#include <cstdio>

const char* PlanActionName(PlanAction action) {
    switch (action) {
        case PlanAction::Install:
            return "install";
        case PlanAction::Replace:
            return "replace";
        case PlanAction::Skip:
            return "skip";
        case PlanAction::Conflict:
            break;
    }
    return "conflict";
}

void PlanCounts::Add(PlanAction action) {
    switch (action) {
        case PlanAction::Install:
            ++install;
            break;
        case PlanAction::Replace:
            ++replace;
            break;
        case PlanAction::Skip:
            ++skip;
            break;
        case PlanAction::Conflict:
            ++conflict;
            break;
    }
}

stdx::string PlanCounts::Summary() const {
    char line[128];
    std::snprintf(line, sizeof(line), "%d install, %d replace, %d skip, %d conflict", install,
                  replace, skip, conflict);
    return stdx::string(line);
}
