#pragma once

#include <ctime>

#include "engine/InstallEvents.h"
#include "text/String.h"

// The log of one run that --log asks for: appended to a file of the
// administrator's choice, one line per event, each line starting with the
// UTC time in ISO 8601 ("2026-12-08T09:30:00Z") and a space. Every line is
// handed to the kernel in one write as soon as it is made, so a run that is
// killed leaves every line before the kill, and two processes logging to one
// file do not mix their lines.
//
// A log that was never opened takes every call and writes nothing, so the
// callers need not ask. Write and the sink's calls may come from the install
// thread and the main thread at once: nothing is shared but the descriptor.
class RunLog : public InstallEventSink {
public:
    RunLog() = default;
    ~RunLog() override;
    RunLog(const RunLog&) = delete;
    RunLog& operator=(const RunLog&) = delete;

    // Opens path for appending; a missing file is created with mode 0600,
    // an existing one keeps its mode and its lines. False, with errno set,
    // when it cannot be opened (a missing directory, no permission) or is
    // not a regular file: a directory, a pipe, a device, or a link at the
    // path's last level, which is never followed.
    bool Open(const stdx::string& path);
    bool IsOpen() const { return m_fd >= 0; }

    // One line: the time, a space and text with Escape applied.
    void Write(const stdx::string& text);

    // "install NAME", "replace NAME", "repair NAME" or "skip NAME".
    void OnFileAction(const stdx::u16string& relativePath, FileAction action) override;
    // "rollback: N restored, N removed".
    void OnRollback(int restored, int removed) override;

    // The time as "YYYY-MM-DDTHH:MM:SSZ", in UTC.
    static stdx::string FormatTime(std::time_t time);
    // Keeps one event on one line: a backslash becomes "\\" and every control
    // character "\xHH" (a line feed "\x0a").
    static stdx::string Escape(const stdx::string& text);

private:
    int m_fd = -1;
};
