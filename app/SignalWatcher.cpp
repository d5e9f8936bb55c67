#include "app/SignalWatcher.h"

#include <signal.h>

#include <atomic>
#include <cstddef>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};
constexpr std::size_t kSignalCount = sizeof(kSignals) / sizeof(kSignals[0]);

// Only a lock-free atomic may be touched from the handler.
static_assert(std::atomic<int>::is_always_lock_free, "the pending signal needs a lock-free int");
std::atomic<int> g_pending{0};

bool g_installed = false;
struct sigaction g_previous[kSignalCount];

void OnSignal(int number) {
    // The first signal decides; a second Ctrl-C during the rollback must
    // neither end the process nor change what is reported.
    int none = 0;
    g_pending.compare_exchange_strong(none, number);
}

void Restore(std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        sigaction(kSignals[i], &g_previous[i], nullptr);
    }
}

struct sigaction WatcherAction() {
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    return action;
}

}  // namespace

bool SignalWatcher::Install() {
    if (g_installed) {
        return true;
    }
    const struct sigaction action = WatcherAction();
    for (std::size_t i = 0; i < kSignalCount; ++i) {
        if (sigaction(kSignals[i], &action, &g_previous[i]) != 0) {
            Restore(i);
            return false;
        }
    }
    g_installed = true;
    return true;
}

void SignalWatcher::Reassert() {
    if (!g_installed) {
        return;
    }
    const struct sigaction action = WatcherAction();
    for (int number : kSignals) {
        sigaction(number, &action, nullptr);
    }
}

void SignalWatcher::Uninstall() {
    if (!g_installed) {
        return;
    }
    Restore(kSignalCount);
    g_installed = false;
    Clear();
}

int SignalWatcher::Pending() {
    return g_pending.load();
}

void SignalWatcher::Clear() {
    g_pending.store(0);
}
