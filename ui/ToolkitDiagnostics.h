#pragma once

// The environment variable that lets the toolkit's own diagnostics through
// to standard error, for a developer who needs them: set to anything but
// empty or "0".
constexpr char kToolkitDiagnosticsVariable[] = "QA_TOOLKIT_DIAGNOSTICS";

// Standard error carries only the installer's own lines, which deployment
// tools collect: the toolkit's log lines (on GNUstep, every NSLog, such as
// the font back end's "Failed to determine offsets for style N") are
// dropped, unless kToolkitDiagnosticsVariable asks for them. On macOS the
// system log keeps them and nothing changes. Call once, before the toolkit
// is started.
void KeepToolkitDiagnosticsOffStandardError();
