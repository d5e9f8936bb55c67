#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/DirectoryHandles.h"
#include "engine/FolderOrder.h"
#include "engine/fs/ErrorCodes.h"
#include "engine/fs/FileSystem.h"
#include "engine/fs/PathNames.h"
#include "text/String.h"
#include "text/StringUtils.h"

// Puts the staged copies that replace earlier ones in place, each
// exchanged with the copy it replaces in one step, the earlier copy landing
// at the staged copy's place in the stage (RunJournal.h, "E"). None of
// these records names a file another record names, so they may go in any
// order: with many of them, two threads share them folder by folder
// (FolderOrder.h), each with folder handles of its own, as much of the
// kernel's work for exchanges in different folders goes on side by side
// (renames between folders still take one lock of the file system's in
// turn). Used once per commit, after the journal's entries are durable.
template <class FS>
class ExchangePass {
public:
    // One record to exchange: its index in the kit, its path below the
    // template directory, and where its staged copy lies (the writer's
    // stage directory, and its name there).
    struct Item {
        std::size_t index = 0;
        const std::string* relative = nullptr;
        std::size_t writer = 0;
        std::string name;
    };

    // Exchanges with fewer items than this stay on the calling thread.
    static constexpr std::size_t kThreadedItems = 256;

    ExchangePass(FS& fileSystem, const stdx::u16string& targetDir, const stdx::u16string& stageDir,
                 std::size_t writers)
        : m_fileSystem(fileSystem),
          m_targetDir(targetDir),
          m_stageDir(stageDir),
          m_writers(writers) {}

    // Exchanges every item, on two threads when `threads` and there are
    // many; cancelled() is asked before each. 0 when every item was
    // exchanged, or when the file system refused (the items not Done go
    // the other way); 1223 for a cancel; 87 when a file is no longer
    // there; or the code of the step that failed. After a failure some
    // items may be done, and the run is undone from its journal.
    ErrorCode Run(const std::vector<Item>& items, bool threads,
                  const std::function<bool()>& cancelled) {
        m_done.assign(items.size(), 0);
        m_failure = kErrorSuccess;
        m_stop = false;
        m_order.clear();
        if (!threads || items.size() < kThreadedItems) {
            Share(items, 0, items.size(), cancelled);
        } else {
            m_order = folder_order::ByFolder(
                items.size(),
                [&](std::size_t i) -> const std::string& { return *items[i].relative; });
            const std::size_t half = items.size() / 2;
            std::thread helper([&] { Share(items, 0, half, cancelled); });
            Share(items, half, items.size(), cancelled);
            helper.join();
        }
        return m_failure;
    }

    // Whether item i (of the last Run) was exchanged.
    bool Done(std::size_t i) const { return m_done[i] != 0; }

private:
    // Items begin to end of the work order: m_order, or the items' own
    // order when it is empty.
    void Share(const std::vector<Item>& items, std::size_t begin, std::size_t end,
               const std::function<bool()>& cancelled) {
        DirectoryHandles<FS> targets(m_fileSystem, 2);
        targets.Reset(m_targetDir);
        std::vector<FileHandle> stages(m_writers, kInvalidHandle);
        std::string folder;
        std::string leaf;
        for (std::size_t k = begin; k < end && !m_stop.load(std::memory_order_relaxed); ++k) {
            const std::size_t i = m_order.empty() ? k : m_order[k];
            if (cancelled()) {
                Fail(kErrorCancelled);
                break;
            }
            const Item& item = items[i];
            FileHandle& stage = stages[item.writer];
            ErrorCode code = kErrorSuccess;
            if (stage == kInvalidHandle) {
                code = m_fileSystem.OpenDirectory(
                    m_stageDir + IntToString(static_cast<std::int32_t>(item.writer), 10), &stage);
            }
            path_names::SplitLast(*item.relative, &folder, &leaf);
            FileHandle directory = kInvalidHandle;
            if (code == kErrorSuccess) {
                code = targets.Find(folder, &directory);
            }
            if (code == kErrorSuccess) {
                code = m_fileSystem.ExchangeAt(stage, item.name, directory, leaf);
            }
            if (code == kErrorNotSupported) {
                m_stop = true;
                break;
            }
            if (code != kErrorSuccess) {
                Fail(code == kErrorNotFound ? kErrorInvalidParameter : code);
                break;
            }
            m_done[i] = 1;
        }
        for (FileHandle stage : stages) {
            if (stage != kInvalidHandle) {
                m_fileSystem.Close(stage);
            }
        }
        targets.Close();
    }

    void Fail(ErrorCode code) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_failure == kErrorSuccess) {
            m_failure = code;
        }
        m_stop = true;
    }

    FS& m_fileSystem;
    const stdx::u16string m_targetDir;
    const stdx::u16string m_stageDir;
    const std::size_t m_writers;
    std::vector<std::size_t> m_order;
    // One byte per item, each written by the one thread that owns it.
    std::vector<char> m_done;
    std::mutex m_mutex;
    ErrorCode m_failure = kErrorSuccess;
    std::atomic<bool> m_stop{false};
};
