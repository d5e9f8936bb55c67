#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <unordered_map>

#include "engine/fs/ErrorCodes.h"
#include "engine/fs/FileSystem.h"
#include "engine/fs/PathNames.h"
#include "text/Encoding.h"
#include "text/String.h"

// The open directories of one tree (the template directory, or a run's
// backup directory), by their path below its root, so that a run over many
// files opens each directory once and reaches every file with one call
// relative to it instead of resolving its whole path.
//
// Every level below the root is opened with FS::OpenDirectoryAt, which
// follows no link: a link or any other non-directory standing in for a
// level is reported, never walked through, so nothing below it is touched.
// The root itself is opened by its path, links on the way followed, as the
// user named it. Handles stay open for the whole run, so that a kit whose
// consecutive records lie in different folders costs no more than one
// grouped by folder: up to kMaxOpen of them, or half what the process may
// hold open where that is less (macOS allows 256 by default). Past that,
// all are closed and opened again as they are needed. Caches used at the
// same time by several threads each take a share of that.
template <class FS>
class DirectoryHandles {
public:
    static constexpr std::size_t kMaxOpen = 512;
    static constexpr std::size_t kLeastOpen = 16;

    explicit DirectoryHandles(FS& fileSystem, std::size_t shares = 1)
        : m_fileSystem(fileSystem),
          m_maxOpen(
              std::max(kLeastOpen, std::min(kMaxOpen, fileSystem.OpenHandleLimit() / 2 /
                                                          std::max<std::size_t>(shares, 1)))) {}
    ~DirectoryHandles() { Close(); }
    DirectoryHandles(const DirectoryHandles&) = delete;
    DirectoryHandles& operator=(const DirectoryHandles&) = delete;

    // Closes every handle and starts over with `root` (absolute, ending in
    // "/"); nothing is opened until Find.
    void Reset(const stdx::u16string& root) {
        Close();
        m_root = root;
        m_rootBytes = path_names::Narrow(root);
    }

    // Closes every handle; Find opens them again.
    void Close() {
        for (auto& entry : m_open) {
            m_fileSystem.Close(entry.second.handle);
        }
        m_open.clear();
        m_lastKey.clear();
        m_last = nullptr;
    }

    // The root followed by `relative` (UTF-8, "/" between levels and none
    // at the end; "" is the root itself), as UTF-16.
    stdx::u16string PathOf(const std::string& relative) const {
        if (relative.empty()) {
            return m_root;
        }
        return m_root + path_names::Wide(relative);
    }

    // Opens the directory root + relative. With a `make` that is not null,
    // a missing level is made by calling make(parent, name, path): parent
    // the handle of the level above (-1 for the root, then name is empty),
    // path the level's own absolute path without "/" at the end; it returns
    // 0 (or 183 when something appeared meanwhile) and the level is then
    // opened. Codes: 0 with *handle; 2 when a level is missing and nothing
    // makes it; 87 when a level exists but is not a directory (a link to one
    // included); the code of make or of FS::OpenDirectoryAt.
    template <class Make>
    ErrorCode Find(const std::string& relative, Make* make, FileHandle* handle) {
        // Most files lie in the directory of the file before them.
        if (m_last == nullptr || relative != m_lastKey) {
            if (m_open.size() >= m_maxOpen) {
                Close();
            }
            Slot* slot = nullptr;
            bool made = false;
            const ErrorCode code = Open(relative, make, &slot, &made);
            if (code != kErrorSuccess) {
                return code;
            }
            m_lastKey = relative;
            m_last = slot;
        }
        *handle = m_last->handle;
        return kErrorSuccess;
    }

    // Find without making anything.
    ErrorCode Find(const std::string& relative, FileHandle* handle) {
        using NoMake = ErrorCode (*)(FileHandle, const std::string&, const stdx::u16string&);
        return Find(relative, static_cast<NoMake*>(nullptr), handle);
    }

    // The StoredTimeRule of the directory the last successful Find gave,
    // looked up in `rules` (a StoredTimeRules) once per directory. Only after
    // a successful Find.
    template <class Rules>
    const StoredTimeRule& LastRule(Rules& rules) {
        if (!m_last->ruleKnown) {
            m_last->rule = rules.Of(PathOf(m_last->relative));
            m_last->ruleKnown = true;
        }
        return m_last->rule;
    }

    // After a Find that failed with 2: the level (relative path, "" for the
    // root) found missing, the highest of those missing.
    const std::string& MissingLevel() const { return m_missing; }

    // Whether the directory the last successful Find gave was made by the
    // make of a Find of this cache, since it was last opened: then it holds
    // nothing that was there before the run. Only after a successful Find.
    bool LastMade() const { return m_last->made; }

private:
    struct Slot {
        FileHandle handle = kInvalidHandle;
        bool made = false;
        bool ruleKnown = false;
        StoredTimeRule rule;
        std::string relative;
    };

    template <class Make>
    // *made tells whether make created the level itself.
    ErrorCode Open(const std::string& relative, Make* make, Slot** slot, bool* made) {
        *made = false;
        const auto found = m_open.find(relative);
        if (found != m_open.end()) {
            *slot = &found->second;
            return kErrorSuccess;
        }
        FileHandle parent = kInvalidHandle;
        std::string name;
        if (!relative.empty()) {
            std::string above;
            path_names::SplitLast(relative, &above, &name);
            Slot* up = nullptr;
            const ErrorCode code = Open(above, make, &up, made);
            if (code != kErrorSuccess) {
                return code;
            }
            parent = up->handle;
        }
        const std::string opened =
            relative.empty() ? path_names::WithoutTrailingSlash(m_rootBytes) : name;
        FileHandle handle = kInvalidHandle;
        // Below a level just made nothing can be there yet: no open to fail.
        ErrorCode code =
            *made ? kErrorNotFound : m_fileSystem.OpenDirectoryAt(parent, opened, &handle);
        if (code == kErrorNotFound && make == nullptr) {
            // The callers above return this code as it is: the first level
            // to fail is the highest missing one.
            m_missing = relative;
        }
        if (code == kErrorNotFound && make != nullptr) {
            const stdx::u16string path = PathOf(relative);
            code = (*make)(parent, name, path_names::WithoutTrailingSlash(path));
            *made = code == kErrorSuccess;
            if (code == kErrorSuccess || code == kErrorAlreadyExists) {
                code = m_fileSystem.OpenDirectoryAt(parent, opened, &handle);
            }
        }
        if (code != kErrorSuccess) {
            return code;
        }
        Slot& entry = m_open[relative];
        entry.handle = handle;
        entry.made = *made;
        entry.relative = relative;
        *slot = &entry;
        return kErrorSuccess;
    }

    FS& m_fileSystem;
    const std::size_t m_maxOpen;
    stdx::u16string m_root;
    std::string m_rootBytes;
    // Node-based, so a Slot stays where it is while others are added.
    std::unordered_map<std::string, Slot> m_open;
    std::string m_lastKey;
    Slot* m_last = nullptr;
    std::string m_missing;
};
