#pragma once

#include "text/String.h"

// The program's version, as --version and the log show it.
extern const char kProgramVersion[];

// What --help prints: the command line with every switch and option, and
// the table of exit statuses. English, whatever the language: it is read by
// administrators and their scripts.
stdx::string UsageText();

// What --version prints: "Setup " and the version, one line.
stdx::string VersionText();
