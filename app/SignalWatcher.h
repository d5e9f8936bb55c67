#pragma once

// Turns the termination signals SIGTERM, SIGINT, SIGHUP and SIGQUIT into a
// request that the main thread picks up at its next look, instead of the
// default end of the process, which would cut an installation short
// half-way. The handler does nothing but store the signal's number in a
// lock-free atomic, which is safe in a signal handler; the controller's
// progress loop and the window layer's event loop look at it (see
// CInstallerDlg::OnTerminationSignal).
//
// There is one watcher per process. Install and Uninstall are called on the
// main thread; Pending may be read from any thread.
class SignalWatcher {
public:
    // Takes the four signals, with SA_RESTART so that interrupted system
    // calls go on. Installing twice changes nothing. False when a handler
    // cannot be set; the signals that were set are given back.
    static bool Install();
    // Sets the watcher's handler again, after a library may have put its
    // own in place (the toolkit takes SIGTERM when its application starts),
    // keeping the actions that Uninstall gives back. Nothing when not
    // installed.
    static void Reassert();
    // Gives the signals back the actions they had before Install and
    // forgets a pending signal. Nothing when not installed.
    static void Uninstall();
    // The number of the first signal that arrived since Install or Clear; 0
    // when none did. Later signals do not replace it.
    static int Pending();
    // Forgets the pending signal.
    static void Clear();
};

// Install for one scope, Uninstall at its end.
class ScopedSignalWatcher {
public:
    ScopedSignalWatcher() { SignalWatcher::Install(); }
    ~ScopedSignalWatcher() { SignalWatcher::Uninstall(); }
    ScopedSignalWatcher(const ScopedSignalWatcher&) = delete;
    ScopedSignalWatcher& operator=(const ScopedSignalWatcher&) = delete;
};
