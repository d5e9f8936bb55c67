#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/fs/FileSystem.h"
#include "engine/fs/FileSystemFeatures.h"
#include "engine/fs/PowerCut.h"
#include "engine/fs/PowerCutModel.h"
#include "engine/fs/PowerCutStep.h"
#include "tests/support/TestSupport.h"

// The FileSystem policy of power-cut tests (the model, the numbering and
// the cut are described in PowerCut.h): every operation reaches the real
// disk, and those under the roots of the recording are recorded, numbered
// and, from the cut on, refused. The directory search only reads: the plain
// FileFinder goes with this policy.
class PowerCutFileSystem : public FileSystem {
public:
    using Place = PowerCut::Place;

    ErrorCode Open(const stdx::u16string& path, std::uint32_t access, std::uint32_t share,
                   std::uint32_t disposition, FileHandle* handle, std::uint32_t attributes) {
        PowerCut::Step step;
        const Place place = step.Path(path);
        const bool creates = disposition == kDispositionCreate && place.node == power_cut::kNoNode;
        const bool truncates = disposition == kDispositionTruncate;
        if (place.modeled && (creates || truncates) && !step.PowerOn()) {
            return kErrorInvalidParameter;
        }
        const ErrorCode code =
            FileSystem::Open(path, access, share, disposition, handle, attributes);
        if (code == kErrorSuccess && place.modeled) {
            power_cut::NodeId node = place.node;
            if (creates) {
                node = step.Created(place, power_cut::Kind::File, StatusOf(*handle));
            } else if (truncates) {
                step.Resized(node, 0, StatusOf(*handle));
            }
            step.Track(*handle, node);
        }
        return code;
    }
    ErrorCode Write(FileHandle handle, const void* buffer, std::uint32_t count,
                    std::uint32_t* countWritten) {
        PowerCut::Step step;
        const Place place = step.Of(handle);
        if (!place.modeled || countWritten == nullptr) {
            return FileSystem::Write(handle, buffer, count, countWritten);
        }
        if (!step.PowerOn()) {
            *countWritten = 0;
            return kErrorInvalidParameter;
        }
        const std::int64_t position = FileSystem::Seek(handle, 0, kSeekCurrent);
        const ErrorCode code = FileSystem::Write(handle, buffer, count, countWritten);
        // Whatever went to the disk, a failure after part of it included.
        if (*countWritten != 0) {
            step.Wrote(place.node, position,
                       std::string(static_cast<const char*>(buffer), *countWritten),
                       StatusOf(handle));
        }
        return code;
    }
    bool CopyRangeAt(FileHandle source, std::uint64_t offset, FileHandle target,
                     std::uint32_t count, std::uint32_t* copied, ErrorCode* code) {
        PowerCut::Step step;
        const Place place = step.Of(target);
        if (!place.modeled || copied == nullptr || code == nullptr) {
            return FileSystem::CopyRangeAt(source, offset, target, count, copied, code);
        }
        // Where the kernel cannot copy, the caller reads and writes: no
        // operation of its own.
        if (!fs_features::kKernelCopy) {
            return false;
        }
        if (!step.PowerOn()) {
            *copied = 0;
            *code = kErrorInvalidParameter;
            return true;
        }
        const std::int64_t position = FileSystem::Seek(target, 0, kSeekCurrent);
        if (!FileSystem::CopyRangeAt(source, offset, target, count, copied, code)) {
            return false;
        }
        if (*copied != 0) {
            // The kernel copied them unseen: they are read back from the
            // source, which is read only.
            std::string bytes(*copied, '\0');
            std::uint32_t got = 0;
            EXPECT_EQ(FileSystem::ReadAt(source, offset, &bytes[0], *copied, &got), kErrorSuccess);
            EXPECT_EQ(got, *copied) << "the source of a copy changed under it";
            step.Wrote(place.node, position, bytes, StatusOf(target));
        }
        return true;
    }
    ErrorCode SetEnd(FileHandle handle) {
        PowerCut::Step step;
        const Place place = step.Of(handle);
        std::int64_t position = 0;
        return Mutate(
            step, place.modeled, kErrorInvalidParameter,
            [&] {
                position = FileSystem::Seek(handle, 0, kSeekCurrent);
                return FileSystem::SetEnd(handle);
            },
            [&] { step.Resized(place.node, position, StatusOf(handle)); });
    }
    ErrorCode SetTimes(FileHandle handle, const FileTime* created, const FileTime* accessed,
                       const FileTime* modified) {
        PowerCut::Step step;
        const Place place = step.Of(handle);
        return Mutate(
            step, place.modeled, kErrorInvalidParameter,
            [&] { return FileSystem::SetTimes(handle, created, accessed, modified); },
            [&] { step.Timed(place.node, StatusOf(handle)); });
    }
    // After the cut every descriptor operation reports the power loss, a
    // Close included.
    ErrorCode LastError() {
        return PowerCut::PowerOff() ? kErrorInvalidParameter : FileSystem::LastError();
    }
    void Close(FileHandle handle) {
        {
            // Forgotten first: once closed, the number may be another
            // thread's next handle.
            PowerCut::Step step;
            step.Forget(handle);
        }
        FileSystem::Close(handle);
    }

    ErrorCode CreateTempFile(const stdx::u16string& directory, const stdx::u16string& prefix,
                             stdx::u16string* path) {
        PowerCut::Step step;
        const Place in = step.Path(directory);
        if (in.modeled && path != nullptr) {
            *path = stdx::u16string();
        }
        return Mutate(
            step, in.modeled, kErrorTempFile,
            [&] { return FileSystem::CreateTempFile(directory, prefix, path); },
            [&] { step.Created(step.Path(*path), power_cut::Kind::File, PathStatus(*path)); });
    }
    ErrorCode CreateExclusive(const stdx::u16string& path, bool privateMode, FileHandle* handle) {
        PowerCut::Step step;
        const Place place = step.Path(path);
        return Mutate(
            step, place.modeled, kErrorInvalidParameter,
            [&] { return FileSystem::CreateExclusive(path, privateMode, handle); },
            [&] { CreatedFile(step, place, *handle); });
    }
    ErrorCode CreateExclusiveAt(FileHandle directory, const std::string& name, bool privateMode,
                                FileHandle* handle) {
        PowerCut::Step step;
        const Place place = step.At(directory, name);
        return Mutate(
            step, place.modeled, kErrorInvalidParameter,
            [&] { return FileSystem::CreateExclusiveAt(directory, name, privateMode, handle); },
            [&] { CreatedFile(step, place, *handle); });
    }
    ErrorCode CreateDirectory(const stdx::u16string& path, bool privateMode) {
        PowerCut::Step step;
        const Place place = step.Path(path);
        return Mutate(
            step, place.modeled, kErrorInvalidParameter,
            [&] { return FileSystem::CreateDirectory(path, privateMode); },
            [&] { step.Created(place, power_cut::Kind::Directory, PathStatus(path)); });
    }
    ErrorCode CreateDirectoryAt(FileHandle directory, const std::string& name, bool privateMode) {
        PowerCut::Step step;
        const Place place = step.At(directory, name);
        return Mutate(
            step, place.modeled, kErrorInvalidParameter,
            [&] { return FileSystem::CreateDirectoryAt(directory, name, privateMode); },
            [&] {
                FileStatus status;
                FileSystem::StatusAt(directory, name, &status);
                step.Created(place, power_cut::Kind::Directory, status);
            });
    }
    ErrorCode MakeDirectory(const stdx::u16string& path) {
        PowerCut::Step step;
        const Place place = step.Path(path);
        if (!place.modeled) {
            return FileSystem::MakeDirectory(path);
        }
        if (!step.PowerOn()) {
            return kErrorInvalidParameter;
        }
        const std::vector<std::string> levels = step.MissingLevels(place);
        const ErrorCode code = FileSystem::MakeDirectory(path);
        // Levels made before a failure stay, and so are recorded.
        for (const std::string& level : levels) {
            const FileStatus status = PathStatus(test_support::U16(level));
            if (status.type != FileType::Directory) {
                break;
            }
            step.Created(step.Path(level), power_cut::Kind::Directory, status);
        }
        return code;
    }

    ErrorCode Rename(const stdx::u16string& from, const stdx::u16string& to, bool replace) {
        PowerCut::Step step;
        const Place source = step.Path(from);
        const Place destination = step.Path(to);
        return Moved(
            step, source, destination, [&] { return FileSystem::Rename(from, to, replace); },
            [&] { step.Renamed(source, destination, replace); });
    }
    ErrorCode RenameAt(FileHandle fromDirectory, const std::string& from, FileHandle toDirectory,
                       const std::string& to, bool replace) {
        PowerCut::Step step;
        const Place source = step.At(fromDirectory, from);
        const Place destination = step.At(toDirectory, to);
        return Moved(
            step, source, destination,
            [&] { return FileSystem::RenameAt(fromDirectory, from, toDirectory, to, replace); },
            [&] { step.Renamed(source, destination, replace); });
    }
    ErrorCode ExchangeAt(FileHandle firstDirectory, const std::string& first,
                         FileHandle secondDirectory, const std::string& second) {
        PowerCut::Step step;
        const Place one = step.At(firstDirectory, first);
        const Place other = step.At(secondDirectory, second);
        return Moved(
            step, one, other,
            [&] { return FileSystem::ExchangeAt(firstDirectory, first, secondDirectory, second); },
            [&] { step.Exchanged(one, other); });
    }

    ErrorCode RemoveFile(const stdx::u16string& path) {
        PowerCut::Step step;
        const Place place = step.Path(path);
        return Mutate(
            step, place.modeled, kErrorSuccess, [&] { return FileSystem::RemoveFile(path); },
            [&] {
                if (place.node != power_cut::kNoNode &&
                    PathStatus(path).type == FileType::Missing) {
                    step.Removed(place);
                }
            });
    }
    ErrorCode RemoveFileAt(FileHandle directory, const std::string& name) {
        PowerCut::Step step;
        return Removal(step, step.At(directory, name),
                       [&] { return FileSystem::RemoveFileAt(directory, name); });
    }
    ErrorCode RemoveDirectory(const stdx::u16string& path) {
        PowerCut::Step step;
        return Removal(step, step.Path(path), [&] { return FileSystem::RemoveDirectory(path); });
    }
    ErrorCode RemoveDirectoryAt(FileHandle directory, const std::string& name) {
        PowerCut::Step step;
        return Removal(step, step.At(directory, name),
                       [&] { return FileSystem::RemoveDirectoryAt(directory, name); });
    }
    ErrorCode RemoveTree(const stdx::u16string& path) {
        PowerCut::Step step;
        const Place place = step.Path(path);
        const std::vector<Place> entries = step.Subtree(place);
        return Mutate(
            step, place.modeled, kErrorSuccess, [&] { return FileSystem::RemoveTree(path); },
            [&] {
                // What could not be removed stays, with the levels above it.
                for (const Place& entry : entries) {
                    if (PathStatus(test_support::U16(entry.path)).type == FileType::Missing) {
                        step.Removed(entry);
                    }
                }
            });
    }

    ErrorCode Sync(FileHandle handle) {
        PowerCut::Step step;
        const Place place = step.Of(handle);
        return Synced(
            step, place.modeled, [&] { return FileSystem::Sync(handle); },
            [&] { step.Synced(place.node); });
    }
    ErrorCode SyncDirectory(const stdx::u16string& path) {
        PowerCut::Step step;
        const Place place = step.Path(path);
        return Synced(
            step, place.modeled && step.IsDirectory(place.node),
            [&] { return FileSystem::SyncDirectory(path); }, [&] { step.Synced(place.node); });
    }
    bool SyncFileSystem(FileHandle handle, ErrorCode* code) {
        PowerCut::Step step;
        const Place place = step.Of(handle);
        if (!place.modeled || code == nullptr) {
            return FileSystem::SyncFileSystem(handle, code);
        }
        if (!step.SyncFileSystemAvailable()) {
            return false;
        }
        *code = Synced(
            step, true, [] { return kErrorSuccess; }, [&] { step.SyncedFileSystemOf(place.root); });
        return true;
    }
    // Outside a recording the platform answers: a run after the cut syncs
    // for real.
    bool CanSyncFileSystem() {
        PowerCut::Step step;
        return step.Recording() ? step.SyncFileSystemAvailable() : FileSystem::CanSyncFileSystem();
    }
    ErrorCode FlushDeviceCache(FileHandle handle) {
        PowerCut::Step step;
        const Place place = step.Of(handle);
        return Synced(
            step, place.modeled, [&] { return FileSystem::FlushDeviceCache(handle); }, [] {});
    }

    ErrorCode OpenDirectory(const stdx::u16string& path, FileHandle* handle) {
        PowerCut::Step step;
        const Place place = step.Path(path);
        return Opened(step, place, handle, FileSystem::OpenDirectory(path, handle));
    }
    ErrorCode OpenDirectoryAt(FileHandle directory, const std::string& name, FileHandle* handle) {
        PowerCut::Step step;
        const Place place =
            directory == kInvalidHandle ? step.Path(name) : step.At(directory, name);
        return Opened(step, place, handle, FileSystem::OpenDirectoryAt(directory, name, handle));
    }
    ErrorCode Status(const stdx::u16string& path, FileStatus* status) {
        PowerCut::Step step;
        return Described(step, step.Path(path), status, FileSystem::Status(path, status));
    }
    ErrorCode StatusAt(FileHandle directory, const std::string& name, FileStatus* status) {
        PowerCut::Step step;
        return Described(step, step.At(directory, name), status,
                         FileSystem::StatusAt(directory, name, status));
    }
    ErrorCode HandleStatus(FileHandle handle, FileStatus* status, bool* linked) {
        PowerCut::Step step;
        return Described(step, step.Of(handle), status,
                         FileSystem::HandleStatus(handle, status, linked));
    }
    ErrorCode StorageOf(const stdx::u16string& path, StorageInfo* info) {
        PowerCut::Step step;
        const Place place = step.Path(path);
        const ErrorCode code = FileSystem::StorageOf(path, info);
        if (code == kErrorSuccess && place.modeled) {
            info->persistent = step.Persistent(place.root);
            if (!info->persistent) {
                info->device = PowerCut::VolatileDevice(place.root);
            }
        }
        return code;
    }

private:
    // A mutating operation: when modeled, numbered, refused with `refusal`
    // once the power is off, and recorded after success.
    template <class Operation, class Record>
    static ErrorCode Mutate(PowerCut::Step& step, bool modeled, ErrorCode refusal,
                            Operation operation, Record record) {
        if (modeled && !step.PowerOn()) {
            return refusal;
        }
        const ErrorCode code = operation();
        if (code == kErrorSuccess && modeled) {
            record();
        }
        return code;
    }
    // A removal that reports its failure.
    template <class Operation>
    static ErrorCode Removal(PowerCut::Step& step, const Place& place, Operation operation) {
        return Mutate(step, place.modeled, kErrorInvalidParameter, operation,
                      [&] { step.Removed(place); });
    }
    // A sync: modeled ones leave the disk alone, the model decides what
    // they make durable.
    template <class Operation, class Record>
    static ErrorCode Synced(PowerCut::Step& step, bool modeled, Operation operation,
                            Record record) {
        if (!modeled) {
            return operation();
        }
        if (!step.PowerOn()) {
            return kErrorInvalidParameter;
        }
        record();
        return kErrorSuccess;
    }
    // A rename or an exchange, between two places on one file system.
    template <class Operation, class Record>
    ErrorCode Moved(PowerCut::Step& step, const Place& source, const Place& destination,
                    Operation operation, Record record) {
        const bool modeled = source.modeled || destination.modeled;
        EXPECT_EQ(source.modeled, destination.modeled)
            << "a rename across the edge of the roots is not modeled";
        // A volatile root is a file system of its own.
        const bool oneFileSystem =
            source.root == destination.root ||
            (step.Persistent(source.root) && step.Persistent(destination.root));
        return Mutate(
            step, modeled, kErrorInvalidParameter,
            [&] {
                return !modeled || (source.modeled == destination.modeled && oneFileSystem)
                           ? operation()
                           : kErrorInvalidParameter;
            },
            record);
    }
    static void CreatedFile(PowerCut::Step& step, const Place& place, FileHandle handle) {
        step.Track(handle, step.Created(place, power_cut::Kind::File, StatusOf(handle)));
    }
    static ErrorCode Opened(PowerCut::Step& step, const Place& place, FileHandle* handle,
                            ErrorCode code) {
        if (code == kErrorSuccess && place.modeled) {
            step.Track(*handle, place.node);
        }
        return code;
    }
    static ErrorCode Described(PowerCut::Step& step, const Place& place, FileStatus* status,
                               ErrorCode code) {
        if (code == kErrorSuccess) {
            step.Describe(place, status);
        }
        return code;
    }
    static FileStatus StatusOf(FileHandle handle) {
        FileStatus status;
        FileSystem().HandleStatus(handle, &status, nullptr);
        return status;
    }
    static FileStatus PathStatus(const stdx::u16string& path) {
        FileStatus status;
        FileSystem().Status(path, &status);
        return status;
    }
};
