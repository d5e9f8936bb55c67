#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

// The disk behind PowerCutFileSystem (see PowerCut.h for the contract): the
// trees of the test's roots as a graph of nodes, the changes made to them in
// order, which of those a sync has made durable, and the state a power cut
// leaves. It knows nothing of FileSystem: the recorder feeds it changes that
// already happened on the real disk, and the disk helpers load and store
// its trees.
namespace power_cut {

// A node's identity, like an inode number: the index in DiskState::nodes.
// Root i (counted from 0) is node i + 1.
using NodeId = std::size_t;
constexpr NodeId kNoNode = 0;

enum class Kind { File, Directory, Link };

// A file, directory or symbolic link. Only what a directory names shows: a
// node that was removed, or whose creation a cut lost, does not.
struct Node {
    bool exists = false;
    Kind kind = Kind::File;
    std::uint32_t mode = 0;
    // Whole seconds since 1970.
    std::int64_t modified = 0;
    // A file's contents, or a link's target.
    std::string bytes;
    std::map<std::string, NodeId> entries;
    // The directory that names it; none for a root or a removed node.
    NodeId parent = kNoNode;
    // The root it was made or last moved under.
    std::size_t root = 0;
};

struct DiskState {
    std::vector<Node> nodes;
};

enum class Change { Create, Write, Resize, SetTime, Rename, Exchange, Remove };

// One change, in node terms, so that it means the same node however many
// of the changes before it a cut kept.
struct Operation {
    Change change = Change::Create;
    // The node created, written, resized, timed, moved or removed.
    NodeId node = kNoNode;
    // Create and Remove: the name in this directory; Rename and Exchange:
    // the source.
    NodeId directory = kNoNode;
    std::string name;
    // Rename: the destination, and whether it may replace what is there;
    // Exchange: the other name, and the node it names (other).
    NodeId toDirectory = kNoNode;
    std::string toName;
    NodeId other = kNoNode;
    bool replace = false;
    // Create: what is made, with its permission bits (bytes: a link's
    // target).
    Kind kind = Kind::File;
    std::uint32_t mode = 0;
    // Write: where the bytes go; Resize: the new size.
    std::uint64_t offset = 0;
    std::string bytes;
    // Create, Write, Resize, SetTime: the node's time afterwards.
    std::int64_t modified = 0;
};

class Model {
public:
    // An empty model with these roots (true: persistent), each an empty
    // directory until Add fills it.
    explicit Model(const std::vector<bool>& persistent = {}) : m_persistent(persistent) {
        m_begin.nodes.resize(persistent.size() + 1);
        for (std::size_t root = 0; root < persistent.size(); ++root) {
            Node& node = m_begin.nodes[root + 1];
            node.exists = true;
            node.kind = Kind::Directory;
            node.root = root;
        }
        m_live = m_begin;
    }

    // Adds what the disk holds at the start, before any change is recorded.
    NodeId Add(NodeId directory, const std::string& name, Kind kind, std::uint32_t mode,
               std::int64_t modified, const std::string& bytes) {
        Operation made = Creation(directory, name, kind, mode, modified);
        made.node = m_begin.nodes.size();
        made.bytes = bytes;
        if (!Apply(m_begin, made)) {
            return kNoNode;
        }
        Apply(m_live, made);
        return made.node;
    }

    static Operation Creation(NodeId directory, const std::string& name, Kind kind,
                              std::uint32_t mode, std::int64_t modified) {
        Operation made;
        made.directory = directory;
        made.name = name;
        made.kind = kind;
        made.mode = mode;
        made.modified = modified;
        return made;
    }

    // The disk as the run sees it: the start and every change so far.
    const DiskState& Live() const { return m_live; }
    NodeId Find(NodeId directory, const std::string& name) const {
        return Lookup(m_live, directory, name);
    }
    // The root under which a node lies, or last lay.
    std::size_t RootOf(NodeId node) const { return RootIn(m_live, node); }
    bool Persistent(std::size_t root) const { return m_persistent[root]; }

    // Appends a change that happened on the disk (a creation gets a new
    // node). Returns the node it concerns, or kNoNode, having recorded
    // nothing, when it cannot apply to the disk as the model knows it.
    NodeId Record(Operation change) {
        if (change.change == Change::Create) {
            change.node = m_live.nodes.size();
        }
        Logged logged;
        const bool moves = change.change == Change::Rename || change.change == Change::Exchange;
        const bool names =
            change.change == Change::Create || change.change == Change::Remove || moves;
        Need(&logged, names ? change.directory : change.node);
        if (moves) {
            Need(&logged, change.toDirectory);
        }
        if (!Apply(m_live, change)) {
            return kNoNode;
        }
        logged.operation = std::move(change);
        m_log.push_back(std::move(logged));
        return m_log.back().operation.node;
    }

    // A sync of this node: a file's data and time, a directory's entries.
    void Sync(NodeId node) {
        Meet([node](const Needed& need) { return need.node == node; });
    }
    // A sync of a whole file system: everything so far under this root.
    void SyncRoot(std::size_t root) {
        Meet([root](const Needed& need) { return need.root == root; });
    }

    std::size_t Recorded() const { return m_log.size(); }
    std::size_t Durable() const {
        std::size_t durable = 0;
        for (const Logged& logged : m_log) {
            durable += IsDurable(logged) ? 1 : 0;
        }
        return durable;
    }

    // What a cut leaves: the start, then in order every durable change and
    // each other one kept or dropped by a coin of std::mt19937 seeded with
    // `seed`; a change that cannot apply to what was kept so far is
    // skipped. Volatile roots come back empty. The coin is biased by the
    // seed (kept with odds of 1/2, 7/8, 1/8 and 3/4 in turn), so that a few
    // seeds give both a disk that lost one write among many it kept and one
    // that kept one among many it lost: the cases that break an order.
    DiskState Replay(std::uint32_t seed) const {
        static const std::uint32_t kKeptOf8[] = {4, 7, 1, 6};
        const std::uint32_t kept = kKeptOf8[seed % 4];
        DiskState state = m_begin;
        std::mt19937 random(seed);
        for (const Logged& logged : m_log) {
            if (IsDurable(logged) || (random() & 7u) < kept) {
                Apply(state, logged.operation);
            }
        }
        for (std::size_t root = 0; root < m_persistent.size(); ++root) {
            if (!m_persistent[root]) {
                state.nodes[root + 1].entries.clear();
            }
        }
        return state;
    }

private:
    // One directory whose sync (or one node whose fsync) a change waits
    // for, and the root it lay under when the change was made.
    struct Needed {
        NodeId node = kNoNode;
        std::size_t root = 0;
        bool met = false;
    };
    struct Logged {
        Operation operation;
        std::vector<Needed> needs;
    };

    void Need(Logged* logged, NodeId node) const {
        if (logged->needs.empty() || logged->needs.front().node != node) {
            logged->needs.push_back({node, RootOf(node), false});
        }
    }

    template <class Which>
    void Meet(Which which) {
        for (Logged& logged : m_log) {
            for (Needed& need : logged.needs) {
                need.met = need.met || (m_persistent[need.root] && which(need));
            }
        }
    }

    static bool IsDurable(const Logged& logged) {
        for (const Needed& need : logged.needs) {
            if (!need.met) {
                return false;
            }
        }
        return true;
    }

    static NodeId Lookup(const DiskState& state, NodeId directory, const std::string& name) {
        if (!IsDirectory(state, directory)) {
            return kNoNode;
        }
        const auto& entries = state.nodes[directory].entries;
        const auto found = entries.find(name);
        return found == entries.end() ? kNoNode : found->second;
    }

    static bool Exists(const DiskState& state, NodeId node) {
        return node != kNoNode && node < state.nodes.size() && state.nodes[node].exists;
    }
    static bool IsDirectory(const DiskState& state, NodeId node) {
        return Exists(state, node) && state.nodes[node].kind == Kind::Directory;
    }

    static std::size_t RootIn(const DiskState& state, NodeId node) {
        if (node >= state.nodes.size()) {
            return 0;
        }
        while (state.nodes[node].parent != kNoNode) {
            node = state.nodes[node].parent;
        }
        return state.nodes[node].root;
    }

    // Takes the name away; the node keeps its contents and its root.
    static void Unlink(DiskState& state, NodeId directory, const std::string& name) {
        const NodeId node = state.nodes[directory].entries[name];
        state.nodes[directory].entries.erase(name);
        state.nodes[node].root = RootIn(state, directory);
        state.nodes[node].parent = kNoNode;
    }

    static void Link(DiskState& state, NodeId directory, const std::string& name, NodeId node) {
        state.nodes[directory].entries[name] = node;
        state.nodes[node].parent = directory;
        state.nodes[node].root = RootIn(state, directory);
    }

    // Whether `replaced` may give way to `node` in a rename: a directory
    // only to an empty directory, anything else only to a non-directory.
    static bool MayReplace(const DiskState& state, NodeId node, NodeId replaced) {
        const Node& old = state.nodes[replaced];
        if (state.nodes[node].kind == Kind::Directory) {
            return old.kind == Kind::Directory && old.entries.empty();
        }
        return old.kind != Kind::Directory;
    }

    // Whether `directory` is `node` or lies below it.
    static bool Inside(const DiskState& state, NodeId directory, NodeId node) {
        for (NodeId up = directory; up != kNoNode; up = state.nodes[up].parent) {
            if (up == node) {
                return true;
            }
        }
        return false;
    }

    static bool Apply(DiskState& state, const Operation& change) {
        const NodeId node = change.node;
        switch (change.change) {
            case Change::Create: {
                if (!IsDirectory(state, change.directory) || Exists(state, node) ||
                    Lookup(state, change.directory, change.name) != kNoNode) {
                    return false;
                }
                if (state.nodes.size() <= node) {
                    state.nodes.resize(node + 1);
                }
                Node& made = state.nodes[node];
                made.exists = true;
                made.kind = change.kind;
                made.mode = change.mode;
                made.modified = change.modified;
                made.bytes = change.bytes;
                Link(state, change.directory, change.name, node);
                return true;
            }
            case Change::Write:
            case Change::Resize:
            case Change::SetTime: {
                if (!Exists(state, node) || state.nodes[node].kind != Kind::File) {
                    return false;
                }
                Node& file = state.nodes[node];
                if (change.change == Change::Write) {
                    const std::size_t end = change.offset + change.bytes.size();
                    file.bytes.resize(end > file.bytes.size() ? end : file.bytes.size());
                    file.bytes.replace(change.offset, change.bytes.size(), change.bytes);
                } else if (change.change == Change::Resize) {
                    file.bytes.resize(change.offset);
                }
                file.modified = change.modified;
                return true;
            }
            case Change::Remove: {
                if (Lookup(state, change.directory, change.name) != node ||
                    (state.nodes[node].kind == Kind::Directory &&
                     !state.nodes[node].entries.empty())) {
                    return false;
                }
                Unlink(state, change.directory, change.name);
                return true;
            }
            case Change::Rename: {
                if (Lookup(state, change.directory, change.name) != node ||
                    !IsDirectory(state, change.toDirectory) ||
                    Inside(state, change.toDirectory, node)) {
                    return false;
                }
                const NodeId replaced = Lookup(state, change.toDirectory, change.toName);
                if (replaced == node) {
                    return true;
                }
                if (replaced != kNoNode) {
                    if (!change.replace || !MayReplace(state, node, replaced)) {
                        return false;
                    }
                    Unlink(state, change.toDirectory, change.toName);
                }
                Unlink(state, change.directory, change.name);
                Link(state, change.toDirectory, change.toName, node);
                return true;
            }
            case Change::Exchange: {
                const NodeId other = change.other;
                if (Lookup(state, change.directory, change.name) != node ||
                    Lookup(state, change.toDirectory, change.toName) != other || other == node ||
                    Inside(state, change.toDirectory, node) ||
                    Inside(state, change.directory, other)) {
                    return false;
                }
                Unlink(state, change.directory, change.name);
                Unlink(state, change.toDirectory, change.toName);
                Link(state, change.directory, change.name, other);
                Link(state, change.toDirectory, change.toName, node);
                return true;
            }
        }
        return false;
    }

    std::vector<bool> m_persistent;
    DiskState m_begin;
    DiskState m_live;
    std::vector<Logged> m_log;
};

}  // namespace power_cut
