#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <unordered_set>

#include "engine/DirectoryHandles.h"
#include "engine/InstallEvents.h"
#include "engine/fs/ErrorCodes.h"
#include "engine/fs/FileSystem.h"
#include "engine/fs/StoredTimeRules.h"

// What an installation does with one kit file.
enum class FileDecision : std::uint8_t {
    Install,   // nothing stands at its place: written new
    Replace,   // an older regular file stands there: backed up, then written
    Repair,    // a regular file with the record's time but another size (a
               // copy cut short, for instance by a power cut): backed up,
               // then written
    Skip,      // a regular file at least as new stands there: left alone
    Conflict,  // anything else stands there or in the way of its folder (a
               // directory, a link, a pipe, a socket, a device): the
               // installation fails with 87 before it changes anything
};

// Whether a decision writes the file.
inline bool Writes(FileDecision decision) {
    return decision == FileDecision::Install || decision == FileDecision::Replace ||
           decision == FileDecision::Repair;
}

// What the events tell of a decision that writes or skips (not Conflict).
inline FileAction ActionOf(FileDecision decision) {
    switch (decision) {
        case FileDecision::Install:
            return FileAction::Install;
        case FileDecision::Replace:
            return FileAction::Replace;
        case FileDecision::Repair:
            return FileAction::Repair;
        default:
            return FileAction::Skip;
    }
}

// The rule, for what lstat found at a kit file's place (Missing when a level
// of its folder is missing) and the record's time and size. Times compare in
// whole seconds, the record's as the file system stores it (`rule`), so that
// a clamped or rounded copy is not taken as older on every run. A newer file
// is kept whatever its size: it may be the user's own edit.
inline FileDecision DecideFile(const FileStatus& status, FileTime recordTime,
                               std::uint64_t recordSize, const StoredTimeRule& rule) {
    constexpr FileTime kTicksPerSecond = 10000000;
    if (status.type == FileType::Missing) {
        return FileDecision::Install;
    }
    if (status.type != FileType::Regular) {
        return FileDecision::Conflict;
    }
    const FileTime installed = status.modified / kTicksPerSecond;
    const FileTime recorded = rule.Apply(recordTime) / kTicksPerSecond;
    if (installed > recorded) {
        return FileDecision::Skip;
    }
    if (installed < recorded) {
        return FileDecision::Replace;
    }
    return status.size == recordSize ? FileDecision::Skip : FileDecision::Repair;
}

// Looks at the place of kit files in one template directory, only looking:
// every level below the template directory is opened without following a
// link (a link or a file in place of a folder is a conflict), and the file's
// own place is looked at with lstat of its literal name, so a pattern
// character is just a character. The installation and the dry run both
// decide through it. Used by one thread at a time.
template <class FS>
class FilePlanner {
public:
    // What was found for one file.
    struct Look {
        FileDecision decision = FileDecision::Install;
        // What stands at the file's place (Missing when its folder is).
        FileStatus status;
        // Whether its folder (or a level of it) is missing.
        bool folderMissing = false;
    };

    // handles: the open directories of the template directory, shared with
    // whoever acts on the plan; rules: what their file systems keep of a
    // time, owned by whoever plans the run.
    FilePlanner(FS& fileSystem, DirectoryHandles<FS>& handles, StoredTimeRules<>& rules)
        : m_fileSystem(fileSystem), m_handles(handles), m_rules(rules) {}

    // Looks at the file `leaf` in `folder` (UTF-8 bytes, relative to the
    // template directory, "/" between levels, "" for the template directory
    // itself) and decides with DecideFile. 0, or the code of a look that
    // failed (the file is then a conflict too).
    ErrorCode Plan(const std::string& folder, const std::string& leaf, FileTime recordTime,
                   std::uint64_t recordSize, Look* look) {
        *look = Look();
        ErrorCode code = kErrorNotFound;
        FileHandle directory = kInvalidHandle;
        // A folder found missing stays so: nothing is made while planning.
        if (m_missingFolders.count(folder) == 0) {
            code = m_handles.Find(folder, &directory);
            if (code == kErrorNotFound) {
                NoteMissing(folder, m_handles.MissingLevel());
            }
        }
        if (code == kErrorNotFound) {
            look->folderMissing = true;
            return kErrorSuccess;
        }
        if (code == kErrorSuccess) {
            code = m_fileSystem.StatusAt(directory, leaf, &look->status);
        }
        if (code != kErrorSuccess) {
            look->decision = FileDecision::Conflict;
            return code;
        }
        const StoredTimeRule& rule =
            look->status.type == FileType::Regular ? m_handles.LastRule(m_rules) : m_noRule;
        look->decision = DecideFile(look->status, recordTime, recordSize, rule);
        return kErrorSuccess;
    }

    // Forgets the folders found missing: for the next run, whose template
    // directory may have changed meanwhile.
    void Reset() {
        m_missingFolders.clear();
        m_missingLevels.clear();
    }

    // Every missing level of the folders looked at (relative, "" for the
    // template directory itself), each above the levels below it.
    const std::set<std::string>& MissingLevels() const { return m_missingLevels; }

private:
    // Notes folder as missing from its level `highest` down.
    void NoteMissing(const std::string& folder, const std::string& highest) {
        m_missingFolders.insert(folder);
        m_missingLevels.insert(highest);
        for (std::size_t slash = folder.find('/', highest.size() + 1);
             !highest.empty() && slash != std::string::npos; slash = folder.find('/', slash + 1)) {
            m_missingLevels.insert(folder.substr(0, slash));
        }
        if (highest.empty()) {
            for (std::size_t slash = folder.find('/'); slash != std::string::npos;
                 slash = folder.find('/', slash + 1)) {
                m_missingLevels.insert(folder.substr(0, slash));
            }
        }
        if (!folder.empty()) {
            m_missingLevels.insert(folder);
        }
    }

    FS& m_fileSystem;
    DirectoryHandles<FS>& m_handles;
    StoredTimeRules<>& m_rules;
    std::unordered_set<std::string> m_missingFolders;
    std::set<std::string> m_missingLevels;
    StoredTimeRule m_noRule;
};
