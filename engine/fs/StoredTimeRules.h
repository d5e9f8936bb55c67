#pragma once

#include <cstdint>
#include <map>
#include <mutex>

#include "engine/fs/ErrorCodes.h"
#include "engine/fs/FileSystem.h"
#include "text/String.h"

// What the file systems a run writes to keep of a modification time, probed
// once per device with FS::StoredTimeRuleOf and kept from then on. Owned by
// whoever plans a run, which asks for every file; thread-safe, so that the
// writing threads of one run share it.
//
// Comparing an installed file's time with the rule applied to the kit's
// time, not with the kit's time itself, keeps a copy whose time the file
// system clamped (ext4 keeps nothing after 2446 or before 1901) or rounded
// to an even second from being taken as older on every run.
//
// The probe and the device lookup are not steps of a run: callers that fail
// a run's operations through their policy keep the plain FileSystem here.
template <class FS = FileSystem>
class StoredTimeRules {
public:
    explicit StoredTimeRules(const FS& fileSystem = FS()) : m_fileSystem(fileSystem) {}
    StoredTimeRules(const StoredTimeRules&) = delete;
    StoredTimeRules& operator=(const StoredTimeRules&) = delete;

    // The rule of the file system holding `directory`, probed the first time
    // its device is asked for. A directory that does not exist (yet) is
    // judged by its nearest existing ancestor, probed on every call. A probe
    // that fails (a directory that cannot be written) gives an unknown rule,
    // whole seconds kept as they are, and is not kept: another directory on
    // the same device may allow it.
    StoredTimeRule Of(const stdx::u16string& directory) {
        StorageInfo storage;
        if (m_fileSystem.StorageOf(directory, &storage) != kErrorSuccess) {
            return m_fileSystem.StoredTimeRuleOf(directory);
        }
        // Held while probing, so that threads asking at once for one device
        // probe it once.
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto found = m_rules.find(storage.device);
        if (found != m_rules.end()) {
            return found->second;
        }
        const StoredTimeRule rule = m_fileSystem.StoredTimeRuleOf(directory);
        if (rule.known) {
            m_rules.emplace(storage.device, rule);
        }
        return rule;
    }

private:
    FS m_fileSystem;
    std::mutex m_mutex;
    std::map<std::uint64_t, StoredTimeRule> m_rules;
};
