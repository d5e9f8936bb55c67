#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/DirectoryHandles.h"
#include "engine/FilePlanner.h"
#include "engine/fs/ErrorCodes.h"
#include "engine/fs/FileSystem.h"
#include "engine/fs/PathNames.h"
#include "engine/fs/StoredTimeRules.h"
#include "kit/KitName.h"

// Decides every record of a run (FilePlanner) before anything is staged, on
// the calling thread and, for a kit large enough to share, on threads of
// its own: one look at the disk per file is most of what a run over files
// that are all up to date costs. Records are taken in chunks in kit order;
// each thread looks through a planner and directory handles of its own,
// the calling thread through the run's own planner, whose handles the
// commit goes on using. Only looks: nothing on disk is changed.
template <class FS, class Kit>
class PlanPass {
public:
    // Records one thread takes at a time.
    static constexpr std::size_t kChunkRecords = 256;

    // planner: the run's own, used by the calling thread; rules: what the
    // template directory's file systems keep of a time.
    PlanPass(FS& fileSystem, FilePlanner<FS>& planner, StoredTimeRules<>& rules)
        : m_fileSystem(fileSystem), m_planner(planner), m_rules(rules) {}

    // Decides every record of kit into (*decisions)[i] (sized to the kit
    // already), its installed path into (*relative)[i], on up to `threads`
    // threads (the calling one among them) below targetDir (absolute,
    // ending in "/"). Returns 0; or, for the
    // first record in kit order whose name is unsafe or that is a conflict,
    // 87, and for the first whose look failed, the code of the look, with
    // *failedAt its index (records after it may be undecided); or 1223 when
    // cancelled() said so between chunks. The missing levels the other
    // threads found are added to *missingLevels (the run's planner keeps
    // its own).
    template <class Cancelled>
    ErrorCode Run(const Kit& kit, const stdx::u16string& targetDir, std::size_t threads,
                  const Cancelled& cancelled, std::vector<FileDecision>* decisions,
                  std::vector<std::string>* relative, std::set<std::string>* missingLevels,
                  std::size_t* failedAt) {
        const std::size_t count = kit.m_files.size();
        relative->assign(count, std::string());
        const std::size_t chunks = (count + kChunkRecords - 1) / kChunkRecords;
        threads = std::max<std::size_t>(1, std::min(threads, chunks));
        m_next = 0;
        m_firstFailure = count;
        m_failureCode = kErrorSuccess;
        m_cancelled = false;
        std::vector<std::unique_ptr<Helper>> helpers;
        std::vector<std::thread> running;
        for (std::size_t t = 1; t < threads; ++t) {
            helpers.emplace_back(new Helper(m_fileSystem, m_rules, targetDir, threads));
            Helper* helper = helpers.back().get();
            running.emplace_back([this, helper, &kit, &cancelled, decisions, relative] {
                Decide(kit, helper->planner, cancelled, decisions, relative);
            });
        }
        Decide(kit, m_planner, cancelled, decisions, relative);
        for (std::thread& thread : running) {
            thread.join();
        }
        for (const std::unique_ptr<Helper>& helper : helpers) {
            const std::set<std::string>& levels = helper->planner.MissingLevels();
            missingLevels->insert(levels.begin(), levels.end());
        }
        if (m_firstFailure < count) {
            *failedAt = m_firstFailure;
            return m_failureCode;
        }
        return m_cancelled ? kErrorCancelled : kErrorSuccess;
    }

    // Whether the template directory `directory` is missing or holds
    // nothing. Then every record is written, so the kit may inflate on
    // while the records are planned (Kit::WantDataAhead).
    bool IsEmptyTarget(const stdx::u16string& directory) {
        FileHandle handle = kInvalidHandle;
        const ErrorCode opened = m_fileSystem.OpenDirectory(directory, &handle);
        if (opened != kErrorSuccess) {
            return opened == kErrorNotFound;
        }
        std::vector<std::string> names;
        const ErrorCode code = m_fileSystem.ListDirectory(handle, &names);
        m_fileSystem.Close(handle);
        return code == kErrorSuccess && names.empty();
    }

    // Tells kit, once Run has decided, which records will be staged: those
    // before stopAt whose decision writes, in kit order. When none is, no
    // file data is wanted and only the kit's digest goes on, while the
    // records are told.
    static void TellKit(Kit* kit, const std::vector<FileDecision>& decisions, std::size_t stopAt) {
        std::vector<std::size_t> staged;
        for (std::size_t i = 0; i < stopAt; ++i) {
            if (Writes(decisions[i])) {
                staged.push_back(i);
            }
        }
        if (staged.empty()) {
            kit->SkipData();
        } else {
            kit->WantFiles(staged);
        }
    }

private:
    // The look of one thread besides the calling one. Its handles take a
    // share of what the process may hold open.
    struct Helper {
        Helper(FS& fileSystem, StoredTimeRules<>& rules, const stdx::u16string& targetDir,
               std::size_t shares)
            : handles(fileSystem, shares), planner(fileSystem, handles, rules) {
            handles.Reset(targetDir);
        }
        DirectoryHandles<FS> handles;
        FilePlanner<FS> planner;
    };

    // Takes chunks until none is left, a failure before them is known, or
    // the run is cancelled.
    template <class Cancelled>
    void Decide(const Kit& kit, FilePlanner<FS>& planner, const Cancelled& cancelled,
                std::vector<FileDecision>* decisions, std::vector<std::string>* relative) {
        const std::size_t count = kit.m_files.size();
        for (;;) {
            const std::size_t begin = m_next.fetch_add(kChunkRecords);
            if (begin >= count || begin >= FirstFailure()) {
                return;
            }
            if (cancelled()) {
                m_cancelled = true;
                return;
            }
            const std::size_t end = std::min(count, begin + kChunkRecords);
            for (std::size_t i = begin; i < end; ++i) {
                FileDecision decision = FileDecision::Conflict;
                const ErrorCode code = Look(kit.m_files[i], planner, &decision, &(*relative)[i]);
                if (code != kErrorSuccess) {
                    NoteFailure(i, code);
                    break;
                }
                (*decisions)[i] = decision;
            }
        }
    }

    // Decides one record: 0, 87 for an unsafe name or a conflict, or the
    // code of the look that failed.
    template <class Record>
    static ErrorCode Look(const Record& record, FilePlanner<FS>& planner, FileDecision* decision,
                          std::string* relative) {
        // A loaded kit holds only safe names; the check stays here because
        // this is where a name meets the disk.
        if (!kit::IsSafeKitName(record.m_name)) {
            return kErrorInvalidParameter;
        }
        *relative = path_names::Narrow(path_names::InstalledPath(stdx::u16string(), record.m_name));
        std::string folder;
        std::string leaf;
        path_names::SplitLast(*relative, &folder, &leaf);
        typename FilePlanner<FS>::Look look;
        ErrorCode code = planner.Plan(folder, leaf, record.m_lastWriteTime, record.m_size, &look);
        if (code == kErrorSuccess && look.decision == FileDecision::Conflict) {
            code = kErrorInvalidParameter;
        }
        *decision = look.decision;
        return code;
    }

    std::size_t FirstFailure() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_firstFailure;
    }

    void NoteFailure(std::size_t index, ErrorCode code) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (index < m_firstFailure) {
            m_firstFailure = index;
            m_failureCode = code;
        }
    }

    FS& m_fileSystem;
    FilePlanner<FS>& m_planner;
    StoredTimeRules<>& m_rules;
    std::atomic<std::size_t> m_next{0};
    std::atomic<bool> m_cancelled{false};
    std::mutex m_mutex;
    std::size_t m_firstFailure = 0;
    ErrorCode m_failureCode = kErrorSuccess;
};
