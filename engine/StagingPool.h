#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/BatchQueues.h"
#include "engine/DirectoryHandles.h"
#include "engine/fs/ErrorCodes.h"
#include "engine/fs/FileSystem.h"
#include "engine/fs/PathNames.h"
#include "text/StringUtils.h"

// Writes a run's new files whole into its stage directory, on the calling
// thread or on a few threads of its own, before anything of the run is
// renamed into the template directory. Record i goes to "<writer>/<i>" in
// the stage directory, with its bytes and time; a file the template
// directory shows is never written here. A file of a folder the template
// directory lacks may instead go to its own path below "t/" (StageInTree),
// so that the whole folder can be put in place with one rename.
//
// The calling thread hands records on in kit order (Stage) and at the end
// waits for the writers (Finish). The first failure stops every writer; a
// copy cut short only because another writer failed is not a failure of
// its own. A cancel is looked for between files and between the pieces of
// a large one.
template <class FS, class Kit>
class StagingPool {
public:
    // Files handed to one writer and not yet written, at most.
    static constexpr std::size_t kQueueFiles = 512;
    static constexpr std::uint64_t kQueueBytes = 32u * 1048576u;
    // Consecutive records handed to one writer before the next is chosen:
    // so many files, or files of so many bytes, whichever comes first.
    static constexpr std::size_t kChunkFiles = 64;
    static constexpr std::uint64_t kChunkBytes = 1048576;
    // Files a writer takes from its queue at once, and what wakes a waiting
    // writer at once: files in its queue, or the size of one.
    static constexpr std::size_t kBatchFiles = kQueueFiles / 4;
    static constexpr std::size_t kWakeFiles = 16;
    static constexpr std::uint64_t kWakeBytes = 1048576;

    // The folder below the stage directory that holds the tree of new folders.
    static constexpr const char16_t* kTreeName = u"t";

    explicit StagingPool(FS& fileSystem) : m_fileSystem(fileSystem) {}
    ~StagingPool() { Finish(nullptr); }
    StagingPool(const StagingPool&) = delete;
    StagingPool& operator=(const StagingPool&) = delete;

    // Opens the writers' stage directories (stageDir + number) and, with
    // more than one writer, starts their threads. cancelled() tells whether
    // the run was asked to stop; syncEach makes each file durable before it
    // is closed; wantIdentity(i) whether record i's status is needed
    // later (Staged, Identity). 0 or the code of the open that failed.
    ErrorCode Start(Kit& kit, const stdx::u16string& stageDir, std::size_t writers,
                    std::function<bool()> cancelled, bool syncEach,
                    std::function<bool(std::size_t)> wantIdentity) {
        m_kit = &kit;
        m_cancelled = std::move(cancelled);
        m_wantIdentity = std::move(wantIdentity);
        m_syncEach = syncEach;
        m_failure = kErrorSuccess;
        m_stopped = false;
        m_chunkLeft = 0;
        m_chunkBytes = 0;
        m_chunkWriter = 0;
        m_writerOf.assign(writers > 1 ? kit.m_files.size() : 0, 0);
        m_inTree.assign(kit.m_files.size(), 0);
        m_treeDirectories.clear();
        for (std::size_t number = 0; number < writers; ++number) {
            auto writer = std::make_unique<Writer>(m_fileSystem, writers);
            writer->tree.Reset(stageDir + kTreeName + u"/");
            const ErrorCode code = m_fileSystem.OpenDirectory(
                stageDir + IntToString(static_cast<std::int32_t>(number), 10), &writer->directory);
            if (code != kErrorSuccess) {
                return code;
            }
            // The first writer of a run on one thread uses the kit's buffer.
            if (writers > 1) {
                writer->buffer.reset(new char[Kit::kBufferBytes]);
            }
            m_writers.push_back(std::move(writer));
        }
        if (writers > 1) {
            m_queues.Start(
                writers,
                [this](std::size_t number, std::vector<std::size_t>& batch) {
                    WriteBatch(*m_writers[number], batch);
                },
                &m_stopped);
        }
        return kErrorSuccess;
    }

    // Stages record index: at once on this thread with one writer, else on
    // the chosen writer's thread, waiting while its queue is full. 0, or the
    // code of the failure that stopped the pool (this or an earlier one).
    ErrorCode Stage(std::size_t index) { return Hand(index); }
    // Stages record index as Stage does, at its own path below the tree
    // ("t/" + its installed path), the folders on the way made as needed.
    ErrorCode StageInTree(std::size_t index) {
        m_inTree[index] = 1;
        return Hand(index);
    }

    // Whether a failure has stopped the pool.
    bool Stopped() const { return m_stopped.load(std::memory_order_acquire); }

    // Waits until every writer has written or dropped what it was given,
    // closes the stage directories and returns the first failure (0 for
    // none), its record in *failedAt when not null.
    ErrorCode Finish(std::size_t* failedAt) {
        m_queues.Finish();
        for (const auto& writer : m_writers) {
            m_fileSystem.Close(writer->directory);
            writer->tree.Close();
            m_treeDirectories.insert(writer->made.begin(), writer->made.end());
        }
        m_writers.clear();
        std::lock_guard<std::mutex> lock(m_mutex);
        if (failedAt != nullptr) {
            *failedAt = m_failedAt;
        }
        return m_failure;
    }

    // Whether record index was staged in the tree.
    bool InTree(std::size_t index) const { return m_inTree[index] != 0; }
    // The folders made below the tree (relative to it, "/" between
    // levels), each after the levels above it. After Finish.
    const std::set<std::string>& TreeDirectories() const { return m_treeDirectories; }

    // The writer whose stage directory holds record index.
    std::size_t WriterOf(std::size_t index) const {
        return m_writerOf.empty() ? 0 : m_writerOf[index];
    }
    // The name of record index in its writer's stage directory.
    static std::string NameOf(std::size_t index) { return std::to_string(index); }
    // The status of staged record index as the file system keeps it (its
    // device, inode, time and size), where wantIdentity asked for it;
    // nothing (type Missing) otherwise. After Finish.
    FileStatus Staged(std::size_t index) const {
        const auto found = m_identities.find(index);
        return found == m_identities.end() ? FileStatus() : found->second;
    }
    // The device and inode of Staged(index).
    std::pair<std::uint64_t, std::uint64_t> Identity(std::size_t index) const {
        const FileStatus status = Staged(index);
        return {status.device, status.inode};
    }

private:
    struct Writer {
        // The tree's handles: each writer's cache takes a share of what the
        // process may hold open.
        Writer(FS& fileSystem, std::size_t writers) : tree(fileSystem, writers) {}
        FileHandle directory = kInvalidHandle;
        std::unique_ptr<char[]> buffer;
        DirectoryHandles<FS> tree;
        std::vector<std::string> made;  // below the tree, by this writer
    };

    ErrorCode Hand(std::size_t index) {
        if (m_writers.size() == 1) {
            const ErrorCode code = WriteOne(*m_writers.front(), index);
            if (code != kErrorSuccess) {
                Fail(code, index);
            }
            return code;
        }
        if (m_chunkLeft == 0 || m_chunkBytes >= kChunkBytes) {
            const std::size_t best = m_queues.LeastLoaded(m_chunkWriter);
            if (best != m_chunkWriter) {
                m_queues.HandOver(m_chunkWriter);
            }
            m_chunkWriter = best;
            m_chunkLeft = kChunkFiles;
            m_chunkBytes = 0;
        }
        --m_chunkLeft;
        m_chunkBytes += m_kit->m_files[index].m_size;
        m_writerOf[index] = static_cast<std::uint8_t>(m_chunkWriter);
        m_queues.Push(m_chunkWriter, index, m_kit->m_files[index].m_size, false);
        return Failure();
    }

    ErrorCode Failure() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_failure;
    }

    void Fail(ErrorCode code, std::size_t index) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_failure == kErrorSuccess) {
                m_failure = code;
                m_failedAt = index;
            }
            m_stopped.store(true, std::memory_order_release);
        }
        // The kit may hold bytes back for files nobody will write now,
        // while another writer waits for bytes after them: it is let go.
        m_kit->EndReads();
    }

    void WriteBatch(Writer& writer, const std::vector<std::size_t>& batch) {
        for (std::size_t index : batch) {
            if (Stopped()) {
                return;
            }
            const ErrorCode code = WriteOne(writer, index);
            // After a failure elsewhere a cut-short copy is no failure.
            if (code != kErrorSuccess && (code != kErrorCancelled || m_cancelled())) {
                Fail(code, index);
            }
            if (code != kErrorSuccess) {
                return;
            }
        }
    }

    ErrorCode WriteOne(Writer& writer, std::size_t index) {
        if (m_cancelled()) {
            return kErrorCancelled;
        }
        FileHandle file = kInvalidHandle;
        ErrorCode code = m_inTree[index] != 0 ? CreateInTree(writer, index, &file)
                                              : m_fileSystem.CreateExclusiveAt(
                                                    writer.directory, NameOf(index), false, &file);
        if (code != kErrorSuccess) {
            return code == kErrorAlreadyExists ? kErrorInvalidParameter : code;
        }
        const std::function<bool()>& cancelled = m_cancelled;
        const std::atomic<bool>* stopped = &m_stopped;
        code = m_kit->WriteFileTo(
            index, file,
            [&cancelled, stopped] {
                return cancelled() || stopped->load(std::memory_order_relaxed);
            },
            writer.buffer.get());
        if (code == kErrorSuccess && m_syncEach) {
            code = m_fileSystem.Sync(file);
        }
        if (code == kErrorSuccess && m_wantIdentity(index)) {
            FileStatus status;
            code = m_fileSystem.HandleStatus(file, &status, nullptr);
            std::lock_guard<std::mutex> lock(m_mutex);
            m_identities[index] = status;
        }
        m_fileSystem.Close(file);
        // A late write error (a full disk on some file systems) shows only
        // when the file is closed.
        return code == kErrorSuccess ? m_fileSystem.LastError() : code;
    }

    // Creates record index at its path below the tree, making the folders
    // on the way: with the template directory's own modes, as they are to
    // be put there. Another writer may make a folder at the same time.
    ErrorCode CreateInTree(Writer& writer, std::size_t index, FileHandle* file) {
        const std::string relative = path_names::Narrow(
            path_names::InstalledPath(stdx::u16string(), m_kit->m_files[index].m_name));
        std::string folder;
        std::string leaf;
        path_names::SplitLast(relative, &folder, &leaf);
        auto make = [this, &writer](FileHandle parent, const std::string& name,
                                    const stdx::u16string& path) {
            if (parent == kInvalidHandle) {
                return m_fileSystem.CreateDirectory(path, true);
            }
            const ErrorCode code = m_fileSystem.CreateDirectoryAt(parent, name, false);
            if (code == kErrorSuccess) {
                writer.made.push_back(path_names::Narrow(
                    stdx::u16string(path, writer.tree.PathOf(std::string()).size())));
            }
            return code;
        };
        FileHandle directory = kInvalidHandle;
        ErrorCode code = writer.tree.Find(folder, &make, &directory);
        if (code == kErrorSuccess) {
            code = m_fileSystem.CreateExclusiveAt(directory, leaf, false, file);
        }
        return code == kErrorAlreadyExists ? kErrorInvalidParameter : code;
    }

    FS& m_fileSystem;
    Kit* m_kit = nullptr;
    std::function<bool()> m_cancelled;
    std::function<bool(std::size_t)> m_wantIdentity;
    bool m_syncEach = false;
    std::vector<std::unique_ptr<Writer>> m_writers;
    BatchQueues<std::size_t> m_queues{
        {kQueueFiles, kQueueBytes, kBatchFiles, kWakeFiles, kWakeBytes}};
    std::vector<std::uint8_t> m_writerOf;
    std::vector<std::uint8_t> m_inTree;
    std::set<std::string> m_treeDirectories;
    std::size_t m_chunkWriter = 0;
    std::size_t m_chunkLeft = 0;
    std::uint64_t m_chunkBytes = 0;
    std::atomic<bool> m_stopped{false};
    // Guards the failure and the identities, which writers share.
    std::mutex m_mutex;
    ErrorCode m_failure = kErrorSuccess;
    std::size_t m_failedAt = 0;
    std::unordered_map<std::size_t, FileStatus> m_identities;
};
