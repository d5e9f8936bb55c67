#pragma once

#include "text/String.h"

// The full path of the running executable, UTF-8, as the kernel knows it
// (/proc/self/exe on Linux, proc_pidpath on macOS): never taken from argv[0],
// PATH or the working directory. Empty when unknown.
stdx::string RunningExecutablePath();
