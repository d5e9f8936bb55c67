#pragma once

// What the installation benchmarks need around their measurements: an
// installation in this process, other programs run and timed (tar, sync,
// the installer), and whether the work directory keeps its data across a
// power cut.

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchKits.h"
#include "bench/BenchReport.h"
#include "bench/FreshInodes.h"
#include "engine/InstallProcessData.h"
#include "engine/InstallWorker.h"
#include "engine/fs/FileSystem.h"
#include "kit/InstallData.h"
#include "tests/support/ArgumentVector.h"
#include "text/Encoding.h"

extern char** environ;

namespace bench {

using Clock = std::chrono::steady_clock;

inline double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

inline stdx::u16string U16(const std::string& text) {
    return Utf8ToUtf16(stdx::string(text.c_str(), text.size()));
}

// Installs the kit into target with the worker over the file-system policy
// FS on `writers` threads, without the pause after success, as a silent run
// does: from the moment its tables are read, while the rest inflates. The
// run's code.
template <class FS>
ErrorCode InstallKit(const std::string& kitPath, const std::string& target, std::size_t writers) {
    using Kit = InstallData<LZCompressor, FS>;
    Kit kit;
    const ErrorCode code = kit.Begin(U16(kitPath));
    if (code != kErrorSuccess) {
        return code;
    }
    BasicInstallProcessData<Kit> data;
    data.Init();
    data.SetInstallData(&kit, U16(target));
    InstallWorker<FS> worker;
    worker.SetFinishPause(std::chrono::milliseconds(0));
    worker.SetWriters(writers);
    return worker.Run(&data);
}

// How a program is run: in which directory, with which environment
// ("NAME=value" entries; empty: this process's own) and where its standard
// output and error go (empty: where this process's go).
struct ProcessSetting {
    std::string directory;
    std::vector<std::string> environment;
    std::string output;
};

// Runs a program (found on PATH when it names no directory) and waits for
// it; its exit status, or -1 when it could not be started or was killed.
inline int RunProcess(const std::vector<std::string>& arguments,
                      const ProcessSetting& setting = ProcessSetting()) {
    std::vector<std::string> copies = arguments;
    std::vector<char*> argv = test_support::NullTerminated(copies);
    std::vector<std::string> environment = setting.environment;
    std::vector<char*> envp = test_support::NullTerminated(environment);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!setting.directory.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, setting.directory.c_str());
    }
    if (!setting.output.empty()) {
        posix_spawn_file_actions_addopen(&actions, 1, setting.output.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    pid_t child = 0;
    const int started = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(),
                                     setting.environment.empty() ? environ : envp.data());
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (started != 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

inline bool Spawn(const std::vector<std::string>& arguments) {
    return RunProcess(arguments) == 0;
}

// Whether the file system holding path keeps its data across a power cut
// (not tmpfs), as the installer itself judges it.
inline bool OnPersistentStorage(const std::string& path) {
    FileSystem fileSystem;
    StorageInfo info;
    return fileSystem.StorageOf(U16(path), &info) == kErrorSuccess && info.persistent;
}

// The runs of one kit each installation benchmark times, into a fresh
// target, each after a settle or a sync: (a) a fresh install, (b)
// kUpToDateRuns reinstalls, all up to date (left out when upToDate is
// null), (c) a reinstall over the same files one second older, all
// replaced. run() installs once: its seconds, or a negative value when it
// failed (and said why). False when a run failed or the times could not be
// set; the runs after it are left out.
template <class Run>
bool TimeKitRuns(FreshInodes& space, const std::string& target,
                 const std::vector<SourceFile>& files, const Run& run, std::vector<double>* fresh,
                 std::vector<double>* upToDate, std::vector<double>* replace) {
    space.Clear(target);
    space.Settle();
    fresh->push_back(run());
    if (fresh->back() < 0) {
        return false;
    }
    for (int i = 0; upToDate != nullptr && i < kUpToDateRuns; ++i) {
        ::sync();
        upToDate->push_back(run());
        if (upToDate->back() < 0) {
            return false;
        }
    }
    if (!SetTreeTime(target, files, kKitSeconds - 1)) {
        std::fprintf(stderr, "cannot set the times of the files under %s\n", target.c_str());
        return false;
    }
    ::sync();
    replace->push_back(run());
    // It removed the backups of every file.
    space.NoteRemovals(files.size());
    return replace->back() >= 0;
}

// One round of the tar anchors, each into an empty directory after
// space.Settle(): "tar -xzf" alone, and on persistent storage "tar -xzf"
// followed by "sync -f" of the directory, one syncfs of its file system,
// which makes it as durable as an installation. False when a step failed.
inline bool TimeTarRound(const std::string& tarPath, const std::string& directory,
                         FreshInodes& space, bool persistent, std::vector<double>* plain,
                         std::vector<double>* durable) {
    for (bool syncing : {false, true}) {
        if (syncing && !persistent) {
            continue;
        }
        space.Clear(directory);
        space.Settle();
        const Clock::time_point start = Clock::now();
        if (!Spawn({"tar", "-xzf", tarPath, "-C", directory}) ||
            (syncing && !Spawn({"sync", "-f", directory}))) {
            return false;
        }
        (syncing ? durable : plain)->push_back(Since(start));
    }
    space.Clear(directory);
    return true;
}

}  // namespace bench
