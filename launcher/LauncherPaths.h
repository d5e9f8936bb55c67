#pragma once

#include "text/String.h"

// Where the launcher keeps its files. Each path is computed afresh from the
// home directory on every call; nothing is cached, so a changed "HOME" takes
// effect at once.

// What the shell's "~" gives: "HOME", or the password database's entry for
// the user when "HOME" is unset or empty. Empty when neither is known, so
// the other paths then begin at the root.
stdx::u16string HomeDirectory();

// home + "/.qarn/"
stdx::u16string ProductHomeDirectory();
// home + "/.Qa/qalaunch"
stdx::u16string LauncherDirectory();
// LauncherDirectory() + "/qalaunch.cfg": the user's own file.
stdx::u16string UserConfigPath();
// home + "/.Qa/qalauncht"
stdx::u16string AlternateLauncherDirectory();
// AlternateLauncherDirectory() + "/qalaunch.cfg"
stdx::u16string AlternateUserConfigPath();
// ProductHomeDirectory() + "/.Qa/qalaunch" (two slashes after ".qarn").
stdx::u16string CommonLauncherDirectory();
// CommonLauncherDirectory() + "/qalaunch.cfg": read, never written.
stdx::u16string CommonConfigPath();
// ProductHomeDirectory() + "Qa/qarn/"; the proposed template directory is
// its "tmplts/" folder.
stdx::u16string DefaultTemplateDirectory();

// A template directory as a user or an administrator typed it: "~" and
// "~/..." start at HomeDirectory(), as in the shell; an absolute path is
// kept as it is. False, with *absolute untouched, for an empty path, for any
// other relative path (a location relative to whatever the working
// directory is cannot be recorded for the launcher) and when "~" is used
// but no home directory is known.
bool ExpandTargetPath(const stdx::u16string& typed, stdx::u16string* absolute);
