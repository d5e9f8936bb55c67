#pragma once

#include "app/Startup.h"
#include "app/WindowLayer.h"

// Exit statuses of the installer.
constexpr int kExitSuccess = 0;
// Silent mode: the installation did not succeed (kit missing or damaged, not
// enough temporary space, no usable target, the run failed or was
// cancelled). Without a display: interactive mode was asked for.
constexpr int kExitFailure = 1;

// The whole installer: command line and language, the controller and its
// checks, the wizard window, then the silent run or the user's session.
// Returns the exit status: kExitSuccess in interactive mode with a window,
// whatever happened; in silent mode kExitSuccess only when the installation
// succeeded. Without a display only silent mode runs; interactive mode
// writes one line to standard error, changes nothing and fails.
int RunInstaller(StartupArgs& args, WindowLayer& layer);
