#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "engine/fs/FileSystem.h"
#include "engine/fs/PowerCutDisk.h"
#include "engine/fs/PowerCutModel.h"
#include "tests/support/TestSupport.h"

// Power-cut tests: code under test runs over PowerCutFileSystem on real
// directories, the power is cut at a chosen operation, and the disk is
// rebuilt as a disk with a volatile write cache may have kept it.
//
// Roots. The test names one or more existing directories (absolute paths,
// none inside another), each persistent or volatile. A volatile root
// stands for a file system held in memory (tmpfs): nothing in it survives a
// cut and it comes back empty; its paths report a device of their own
// (Status, StatusAt, HandleStatus, StorageOf, the latter with persistent
// false), and a rename between it and any other root fails with 87 as one
// across file systems does. Only operations under a root are modeled;
// everything else passes through unrecorded. Under a root, nothing may
// change the disk behind the policy's back during a recording: a change
// the model did not expect is a test failure. Links met inside a path are
// not followed by the model.
//
// Begin snapshots the roots (directories with their permission bits,
// regular files with bytes, time in whole seconds and permission bits,
// links by target; anything else is a test failure) and starts recording.
// Every node gets an identity, like an inode; the policy tracks which
// handle refers to which node: files created or opened by path or relative
// to a directory handle, directories opened with OpenDirectory or
// OpenDirectoryAt, each until Close. Handles opened before Begin, and
// unnamed files, are not tracked.
//
// Operations take effect on the real disk at once and are appended to a
// log. Mutating: file creation (Open with kDispositionCreate where nothing
// is, or kDispositionTruncate, which also cuts the file to 0;
// CreateExclusive, CreateExclusiveAt, CreateTempFile), data (Write,
// CopyRangeAt with the bytes it copied, SetEnd, SetTimes), CreateDirectory,
// CreateDirectoryAt, MakeDirectory (a creation per level made), Rename,
// RenameAt, ExchangeAt, RemoveFile, RemoveFileAt, RemoveDirectory, RemoveDirectoryAt,
// RemoveTree (a removal per entry, deepest first). Sync operations, which
// do not reach the disk (the model alone decides what is durable): Sync of
// a file handle makes that file's data and time durable; Sync of a
// directory handle and SyncDirectory make that directory's entry changes
// durable (creations, removals, renames and exchanges in or out of it; either is
// durable once both its directories are); SyncFileSystem makes everything
// so far under the handle's root, and under every persistent root on the
// same device, durable; FlushDeviceCache changes
// nothing. Nothing under a volatile root is ever durable.
//
// Numbering. Mutating and sync operations under a root are numbered from 1
// after Begin, failed ones included. CutAt(N) arms a cut: operation N does
// not happen, and from then on every mutating or sync operation under a
// root fails with its usual failure code (87; 1013 for CreateTempFile; 0
// with nothing done for RemoveFile and RemoveTree, which cannot fail) and
// changes nothing, and LastError reports 87. Everything else passes
// through (reads, Status, ListDirectory, Lock, Close, opening an existing
// file or a directory), so that the code under test runs its failure paths.
//
// Rebuild(seed) ends the recording and replaces the roots' contents on the
// disk with what the cut leaves: the Begin snapshot, then in the original
// order every durable change and each other one kept or dropped by a coin
// of std::mt19937 seeded with `seed` (a disk may keep any unsynced write, in
// any order). A change that cannot apply to what was kept so far is
// skipped: its source or its directory missing, a no-replace destination
// or an exclusive creation meeting an existing entry, a directory removal
// meeting entries. Data lands on its node even where no name reaches it. A
// cut never reached means the run ended: its unsynced changes are subject
// to the rebuild all the same. Rebuild may be called again with another
// seed: the log stays until Discard or the next Begin.
//
// The state is process-wide and mutex-guarded: the kit and the worker hold
// copies of the policy, and a run may use more than one thread.
//
// Usage:
//   PowerCutSession session({{target, true}, {temp, false}});
//   PowerCut::CutAt(n);
//   worker.Run(&data);                       // over PowerCutFileSystem
//   PowerCut::Rebuild(seed);                 // recording ends here
//   RecoverInterruptedRuns(fileSystem);      // over the plain FileSystem
class PowerCut {
public:
    struct Root {
        std::string path;
        bool persistent = true;
    };

private:
    // The recording, one for the process: every copy of the policy and
    // every thread of a run share it.
    struct Session {
        std::mutex mutex;
        bool recording = false;
        // Each root's path and its components.
        std::vector<std::pair<std::string, std::vector<std::string>>> roots;
        power_cut::Model model;
        std::map<FileHandle, power_cut::NodeId> handles;
        std::int64_t operations = 0;
        std::int64_t cutAt = 0;
        bool cutReached = false;
        bool syncFileSystem = true;
    };

    static Session& State() {
        static Session session;
        return session;
    }

    // Runs `function` on the session under its lock.
    template <class Function>
    static auto Locked(Function function) {
        Session& session = State();
        std::lock_guard<std::mutex> lock(session.mutex);
        return function(session);
    }

public:
    // Snapshots the roots and starts recording: no cut armed, the
    // operations counted from 0, SyncFileSystem available. A recording
    // still running is a test failure, and is discarded.
    static void Begin(const std::vector<Root>& roots) {
        Session& session = State();
        std::lock_guard<std::mutex> lock(session.mutex);
        EXPECT_FALSE(session.recording) << "a power-cut recording is still running";
        std::vector<bool> persistent;
        session.roots.clear();
        for (const Root& root : roots) {
            std::vector<std::string> parts = Components(root.path);
            EXPECT_TRUE(!root.path.empty() && root.path.front() == '/' &&
                        std::filesystem::is_directory(root.path))
                << root.path << ": a root is an existing directory, by its absolute path";
            for (const auto& other : session.roots) {
                EXPECT_FALSE(Below(parts, other.second) || Below(other.second, parts))
                    << root.path << ": roots do not nest";
            }
            session.roots.emplace_back(Join(parts, parts.size()), std::move(parts));
            persistent.push_back(root.persistent);
        }
        session.model = power_cut::Model(persistent);
        for (std::size_t root = 0; root < roots.size(); ++root) {
            power_cut::LoadTree(&session.model, root + 1, session.roots[root].first);
        }
        session.handles.clear();
        session.operations = 0;
        session.cutAt = 0;
        session.cutReached = false;
        session.syncFileSystem = true;
        session.recording = true;
        s_powerOff = false;
    }

    // Cuts the power at operation `number` (0: never). A number the run
    // has passed already is a test failure.
    static void CutAt(std::int64_t number) {
        Locked([number](Session& session) {
            EXPECT_TRUE(number == 0 || number > session.operations) << "operation " << number;
            session.cutAt = number;
        });
    }
    // False: SyncFileSystem returns false, as where the platform lacks it.
    static void SetSyncFileSystemAvailable(bool available) {
        Locked([available](Session& session) { session.syncFileSystem = available; });
    }

    // Numbered operations made, the cut one and those after it left out: a
    // run without a cut can be cut at 1 to Operations(), and at
    // Operations() + 1 for a cut after its end.
    static std::int64_t Operations() {
        return Locked([](Session& session) { return session.operations; });
    }
    // Whether the armed cut was reached.
    static bool CutReached() {
        return Locked([](Session& session) { return session.cutReached; });
    }
    // Changes in the log, and those of them durable now.
    static std::size_t Recorded() {
        return Locked([](Session& session) { return session.model.Recorded(); });
    }
    static std::size_t Durable() {
        return Locked([](Session& session) { return session.model.Durable(); });
    }

    // Stops recording: everything passes through again. The log stays.
    static void End() {
        Locked([](Session& session) {
            session.recording = false;
            session.handles.clear();
            s_powerOff = false;
        });
    }
    // Ends the recording and writes what the cut leaves into the roots.
    static void Rebuild(std::uint32_t seed) { Store(Replay(seed)); }
    // Rebuild in two steps, so that one state can be stored again and
    // again, in later sessions over the same roots: Replay ends the
    // recording and gives what the cut leaves; Store writes a state into
    // the roots of the session that made it or of a later one over the same
    // roots in the same order.
    static power_cut::DiskState Replay(std::uint32_t seed) {
        End();
        return Locked([seed](Session& session) { return session.model.Replay(seed); });
    }
    static void Store(const power_cut::DiskState& state) {
        Locked([&state](Session& session) {
            for (std::size_t root = 0; root < session.roots.size(); ++root) {
                power_cut::StoreTree(state, root + 1, session.roots[root].first);
            }
        });
    }
    // Ends the recording and forgets the roots and the log.
    static void Discard() {
        End();
        Locked([](Session& session) {
            session.model = power_cut::Model();
            session.roots.clear();
        });
    }

    // The device a volatile root's paths report.
    static std::uint64_t VolatileDevice(std::size_t root) { return 0xF0F0000000000000u + root; }
    // Whether the power is off: a cut was reached while recording.
    static bool PowerOff() { return s_powerOff; }

    // Where an operation lands, as the model knows it.
    struct Place {
        // Under a root, while recording.
        bool modeled = false;
        std::size_t root = 0;
        // The directory holding the name: none for a root itself and where
        // a level above is missing.
        power_cut::NodeId directory = power_cut::kNoNode;
        std::string name;
        // What is at the name now; none when nothing is.
        power_cut::NodeId node = power_cut::kNoNode;
        // The whole path, for a place named by one.
        std::string path;
    };

    // One operation of the policy in hand (PowerCutStep.h).
    class Step;

private:
    static std::vector<std::string> Components(const std::string& path) {
        std::vector<std::string> parts;
        std::size_t start = 0;
        while (start <= path.size()) {
            std::size_t end = path.find('/', start);
            end = end == std::string::npos ? path.size() : end;
            const std::string part = path.substr(start, end - start);
            if (!part.empty() && part != ".") {
                parts.push_back(part);
            }
            start = end + 1;
        }
        return parts;
    }
    static std::string Join(const std::vector<std::string>& parts, std::size_t count) {
        std::string path;
        for (std::size_t i = 0; i < count; ++i) {
            path += "/" + parts[i];
        }
        return path.empty() ? "/" : path;
    }
    // Whether `parts` names `root` or something below it.
    static bool Below(const std::vector<std::string>& parts, const std::vector<std::string>& root) {
        return parts.size() >= root.size() && std::equal(root.begin(), root.end(), parts.begin());
    }

    static inline std::atomic<bool> s_powerOff{false};
};

// Begins a recording for a scope and discards it at the end, so that no
// test leaks one into the next.
class PowerCutSession {
public:
    explicit PowerCutSession(const std::vector<PowerCut::Root>& roots) { PowerCut::Begin(roots); }
    ~PowerCutSession() { PowerCut::Discard(); }
    PowerCutSession(const PowerCutSession&) = delete;
    PowerCutSession& operator=(const PowerCutSession&) = delete;
};
