#pragma once

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstdint>

#include "engine/InstallProcessData.h"

// Owns the thread on which one installation run at a time takes place.
// Start, Stop and Wait are called from one thread (the user interface's).
class InstallThread {
public:
    InstallThread();
    // Waits for a run that is still at work, so that it never outlives the
    // kit and the shared status it uses.
    ~InstallThread();
    InstallThread(const InstallThread&) = delete;
    InstallThread& operator=(const InstallThread&) = delete;

    // Clears the stop flag.
    void Init();
    // The pause after a successful run's last status for the runs started
    // from now on (the worker's own, one second, until this is called).
    // Silent runs have no success page to show and end at once.
    void SetFinishPause(std::chrono::milliseconds pause) { m_finishPause = pause; }
    // Starts a thread that performs one run with processData (not owned).
    // A thread of an earlier Start is waited for first. When the thread
    // cannot be created, the run is reported as failed at once: status 87,
    // "IDS_INSTALL_ERROR", 0.
    void Start(InstallProcessData* processData);
    // Keeps a run from starting when the new thread has not yet begun it;
    // the thread then posts 1223, "IDS_CANCEL_FINISH", 0. A run already at
    // work goes on; InstallProcessData::Cancel stops that one.
    void Stop();
    // Returns when the thread of the last Start has ended (after the pause
    // that follows a successful run); at once when no thread was started or
    // it was already waited for.
    void Wait();

private:
    static void* ThreadProc(void* self);

    InstallProcessData* m_processData;
    std::atomic<bool> m_stop;
    pthread_t m_thread;
    // Result of pthread_create; -1 before a thread was created.
    std::int32_t m_createResult;
    // A thread was created and not yet joined.
    bool m_joinable;
    // Negative: the worker's own pause.
    std::chrono::milliseconds m_finishPause{-1};
};
