#pragma once

// The one operation of the power-cut policy in hand (PowerCut.h), as
// PowerCutFileSystem records it.

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/fs/PowerCut.h"

// One operation of the policy: holds the recorder's lock from the lookup of
// its place until its change is recorded, so that the log keeps the order
// in which the threads of a run changed the disk.
class PowerCut::Step {
public:
    Step() : m_session(State()), m_lock(m_session.mutex) {}

    Place Path(const stdx::u16string& path) { return Path(test_support::U8(path)); }
    Place Path(const std::string& path) {
        Place place;
        if (path.empty() || path.front() != '/') {
            return place;
        }
        const std::vector<std::string> parts = Components(path);
        for (std::size_t root = 0; m_session.recording && root < m_session.roots.size(); ++root) {
            const std::vector<std::string>& top = m_session.roots[root].second;
            if (!Below(parts, top)) {
                continue;
            }
            place.modeled = true;
            place.root = root;
            place.path = Join(parts, parts.size());
            place.node = root + 1;
            for (std::size_t level = top.size(); level < parts.size(); ++level) {
                EXPECT_NE(parts[level], "..") << path << ": \"..\" is not modeled";
                place.directory = place.node;
                place.name = parts[level];
                place.node = Disk().Find(place.directory, place.name);
                if (place.node == power_cut::kNoNode && level + 1 < parts.size()) {
                    place.directory = power_cut::kNoNode;
                    break;
                }
            }
        }
        return place;
    }
    // A name in an open directory.
    Place At(FileHandle directory, const std::string& name) {
        Place place = Of(directory);
        place.directory = place.node;
        place.name = name;
        place.node = Disk().Find(place.directory, name);
        return place;
    }
    // What a handle refers to.
    Place Of(FileHandle handle) {
        Place place;
        const auto found = m_session.handles.find(handle);
        if (m_session.recording && found != m_session.handles.end()) {
            place.modeled = true;
            place.node = found->second;
            place.root = Disk().RootOf(place.node);
        }
        return place;
    }

    // Numbers a mutating or sync operation: false, having numbered
    // nothing, when the power is off (it is the cut one or came after it).
    bool PowerOn() {
        if (s_powerOff) {
            return false;
        }
        if (m_session.operations + 1 == m_session.cutAt) {
            m_session.cutReached = true;
            s_powerOff = true;
            return false;
        }
        ++m_session.operations;
        return true;
    }

    bool Persistent(std::size_t root) const { return m_session.model.Persistent(root); }
    bool Recording() const { return m_session.recording; }
    bool SyncFileSystemAvailable() const { return m_session.syncFileSystem; }
    bool IsDirectory(power_cut::NodeId node) const {
        return node != power_cut::kNoNode &&
               Disk().Live().nodes[node].kind == power_cut::Kind::Directory;
    }
    // Gives a status under a volatile root the device of its own.
    void Describe(const Place& place, FileStatus* status) const {
        if (place.modeled && !Persistent(place.root) && status->type != FileType::Missing) {
            status->device = VolatileDevice(place.root);
        }
    }

    void Track(FileHandle handle, power_cut::NodeId node) {
        if (node != power_cut::kNoNode) {
            m_session.handles[handle] = node;
        }
    }
    void Forget(FileHandle handle) { m_session.handles.erase(handle); }

    // The levels of a path below its root that the model lacks, outermost
    // first; none when a level in the way is not a directory.
    std::vector<std::string> MissingLevels(const Place& place) {
        const std::vector<std::string> parts = Components(place.path);
        std::vector<std::string> levels;
        power_cut::NodeId node = place.root + 1;
        for (std::size_t level = m_session.roots[place.root].second.size(); level < parts.size();
             ++level) {
            node = Disk().Find(node, parts[level]);
            if (node != power_cut::kNoNode && !IsDirectory(node)) {
                return {};
            }
            if (node == power_cut::kNoNode) {
                levels.push_back(Join(parts, level + 1));
            }
        }
        return levels;
    }
    // The place and everything below it, deepest first.
    std::vector<Place> Subtree(const Place& place) {
        std::vector<Place> all;
        if (place.node != power_cut::kNoNode) {
            for (const auto& entry : Disk().Live().nodes[place.node].entries) {
                Place child = place;
                child.directory = place.node;
                child.name = entry.first;
                child.node = entry.second;
                child.path = place.path + "/" + entry.first;
                const std::vector<Place> below = Subtree(child);
                all.insert(all.end(), below.begin(), below.end());
            }
            all.push_back(place);
        }
        return all;
    }

    // Records a change that has just happened on the disk.
    power_cut::NodeId Created(const Place& place, power_cut::Kind kind, const FileStatus& status) {
        return Record(power_cut::Model::Creation(place.directory, place.name, kind, status.mode,
                                                 FileSystem::ToUnixSeconds(status.modified)));
    }
    void Wrote(power_cut::NodeId node, std::uint64_t offset, std::string bytes,
               const FileStatus& after) {
        power_cut::Operation change = Data(power_cut::Change::Write, node, after);
        change.offset = offset;
        change.bytes = std::move(bytes);
        Record(std::move(change));
    }
    void Resized(power_cut::NodeId node, std::uint64_t size, const FileStatus& after) {
        power_cut::Operation change = Data(power_cut::Change::Resize, node, after);
        change.offset = size;
        Record(std::move(change));
    }
    void Timed(power_cut::NodeId node, const FileStatus& after) {
        Record(Data(power_cut::Change::SetTime, node, after));
    }
    void Renamed(const Place& from, const Place& to, bool replace) {
        power_cut::Operation change = Naming(power_cut::Change::Rename, from);
        change.toDirectory = to.directory;
        change.toName = to.name;
        change.replace = replace;
        Record(std::move(change));
    }
    void Exchanged(const Place& first, const Place& second) {
        power_cut::Operation change = Naming(power_cut::Change::Exchange, first);
        change.toDirectory = second.directory;
        change.toName = second.name;
        change.other = second.node;
        Record(std::move(change));
    }
    void Removed(const Place& place) { Record(Naming(power_cut::Change::Remove, place)); }
    void Synced(power_cut::NodeId node) { m_session.model.Sync(node); }
    // A sync of the whole file system that holds `root`: every persistent
    // root on the same device is on it too.
    void SyncedFileSystemOf(std::size_t root) {
        const std::uint64_t device = DeviceOf(m_session.roots[root].first);
        for (std::size_t other = 0; other < m_session.roots.size(); ++other) {
            if (other == root ||
                (Persistent(other) && DeviceOf(m_session.roots[other].first) == device)) {
                m_session.model.SyncRoot(other);
            }
        }
    }

private:
    const power_cut::Model& Disk() const { return m_session.model; }

    static std::uint64_t DeviceOf(const std::string& path) {
        struct stat status;
        return ::stat(path.c_str(), &status) == 0 ? static_cast<std::uint64_t>(status.st_dev) : 0;
    }

    static power_cut::Operation Data(power_cut::Change kind, power_cut::NodeId node,
                                     const FileStatus& after) {
        power_cut::Operation change;
        change.change = kind;
        change.node = node;
        change.modified = FileSystem::ToUnixSeconds(after.modified);
        return change;
    }
    power_cut::Operation Naming(power_cut::Change kind, const Place& place) {
        EXPECT_NE(place.directory, power_cut::kNoNode)
            << place.path << ": no directory of the model holds it (a root itself is neither "
            << "renamed nor removed)";
        power_cut::Operation change;
        change.change = kind;
        change.node = place.node;
        change.directory = place.directory;
        change.name = place.name;
        return change;
    }
    power_cut::NodeId Record(power_cut::Operation change) {
        const std::string name = change.name;
        const power_cut::NodeId node = m_session.model.Record(std::move(change));
        EXPECT_NE(node, power_cut::kNoNode)
            << "the disk changed at \"" << name << "\" where the power-cut model did not "
            << "expect it: was it changed behind the policy's back?";
        return node;
    }

    Session& m_session;
    std::lock_guard<std::mutex> m_lock;
};
