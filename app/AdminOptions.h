#pragma once

#include "text/String.h"

// The options for administrators and deployment tools. They stand anywhere
// after "usecwd", before or after the one-letter switches; a long option
// begins with "--", so the one-letter scan (which decides by the character
// after the first "-" or "/") never takes one for L or S.
struct AdminOptions {
    bool help = false;     // --help, -h, -? or /?
    bool version = false;  // --version
    bool quiet = false;    // --quiet: silent, and never a window or message box
    bool plan = false;     // --plan: the dry run
    bool hasDir = false;   // --dir=PATH was given
    // The expanded absolute directory of --dir ("~" from the home directory).
    stdx::u16string dir;
    bool hasLog = false;   // --log=FILE was given
    stdx::string logPath;  // FILE as given
    // Empty, or the one-line reason why the command line is refused (an
    // unknown long option, a relative or empty --dir, an empty --log).
    stdx::string usageError;

    // The run shows no window at all: nothing but text on the standard
    // streams. True for --help, --version, --quiet, --plan and a refused
    // command line.
    bool WithoutWindows() const { return help || version || quiet || plan || !usageError.empty(); }
};

// Reads the options from argv[first] to argv[argc - 1]. Every argument is
// looked at; a later --dir or --log replaces an earlier one. The first
// refused argument sets usageError; the scan goes on so that --help still
// counts.
AdminOptions ParseAdminOptions(int argc, char** argv, int first);

// Where the scan of the options begins: 2 after "usecwd" as the first
// argument, else 1.
int FirstOptionIndex(int argc, char** argv);
