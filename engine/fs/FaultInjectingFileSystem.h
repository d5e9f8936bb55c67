#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>

#include "engine/fs/FileFinder.h"
#include "engine/fs/FileSystem.h"

// Test policies that fail one chosen file-system operation: the kit reader
// and the install worker are run over them to prove that every failure is
// reported and fully rolled back.
//
// Operations are numbered from 1 in the order they are called after Arm.
// The operation whose number is the armed one fails, without touching the
// disk, with the code a real failure of that kind gives; all others reach
// the real FileSystem. Operations that have no way to report failure (Close,
// Unmap, RemoveFile, RemoveTree, TempDirectory) are counted but never fail.
// The schedule is process-wide; one armed run at a time.
class FaultSchedule {
public:
    using Hook = void (*)(std::int64_t number, const char* operation, void* context);

    // Counts from now and fails operation number failAt, and also
    // alsoFailAt (0: none).
    static void Arm(std::int64_t failAt, std::int64_t alsoFailAt = 0) {
        s_failName = nullptr;
        s_failAt = failAt;
        s_alsoFailAt = alsoFailAt;
        s_count = 0;
        s_injected = false;
        s_counting = true;
    }
    // Counts from now and fails the nth operation called `name` (a string
    // that outlives the run): the same one however threads interleave.
    static void ArmNamed(const char* name, std::int64_t nth) {
        Arm(0);
        s_namedCount = 0;
        s_failNth = nth;
        s_failName = name;
    }
    // Stops counting and failing.
    static void Disarm() { s_counting = false; }
    // Operations counted since Arm.
    static std::int64_t Operations() { return s_count; }
    // Whether the armed operation was reached and failed.
    static bool Injected() { return s_injected; }
    // Called with its number and name ("Open", "Rename", ...) before each
    // counted operation (null: none).
    static void SetHook(Hook hook, void* context) {
        s_hook = hook;
        s_hookContext = context;
    }
    // Counts one operation; true when it is the one to fail.
    static bool Tick(const char* operation) {
        if (!s_counting) {
            return false;
        }
        const std::int64_t number = ++s_count;
        const Hook hook = s_hook.load();
        if (hook != nullptr) {
            hook(number, operation, s_hookContext.load());
        }
        const char* name = s_failName.load();
        const bool named = name != nullptr && std::strcmp(name, operation) == 0 &&
                           ++s_namedCount == s_failNth.load();
        if (named || number == s_failAt || (number == s_alsoFailAt && number != 0)) {
            s_injected = true;
            return true;
        }
        return false;
    }

private:
    static inline std::atomic<bool> s_counting{false};
    static inline std::atomic<std::int64_t> s_count{0};
    static inline std::atomic<std::int64_t> s_failAt{0};
    static inline std::atomic<std::int64_t> s_alsoFailAt{0};
    static inline std::atomic<bool> s_injected{false};
    static inline std::atomic<const char*> s_failName{nullptr};
    static inline std::atomic<std::int64_t> s_failNth{0};
    static inline std::atomic<std::int64_t> s_namedCount{0};
    static inline std::atomic<Hook> s_hook{nullptr};
    static inline std::atomic<void*> s_hookContext{nullptr};
};

class FaultInjectingFileSystem : public FileSystem {
public:
    ErrorCode Open(const stdx::u16string& path, std::uint32_t access, std::uint32_t share,
                   std::uint32_t disposition, FileHandle* handle, std::uint32_t attributes) {
        return Checked("Open", kErrorInvalidParameter, [&] {
            return FileSystem::Open(path, access, share, disposition, handle, attributes);
        });
    }
    ErrorCode Read(FileHandle handle, void* buffer, std::uint32_t count, std::uint32_t* countRead) {
        return Checked("Read", kErrorInvalidParameter,
                       [&] { return FileSystem::Read(handle, buffer, count, countRead); });
    }
    ErrorCode Write(FileHandle handle, const void* buffer, std::uint32_t count,
                    std::uint32_t* countWritten) {
        return Checked("Write", kErrorInvalidParameter,
                       [&] { return FileSystem::Write(handle, buffer, count, countWritten); });
    }
    std::int64_t Seek(FileHandle handle, std::int64_t offset, int origin) {
        if (FaultSchedule::Tick("Seek")) {
            t_fault = kErrorInvalidParameter;
            return -1;
        }
        t_fault = kErrorSuccess;
        return FileSystem::Seek(handle, offset, origin);
    }
    void Close(FileHandle handle) {
        FaultSchedule::Tick("Close");
        FileSystem::Close(handle);
    }
    ErrorCode SetEnd(FileHandle handle) {
        return Checked("SetEnd", kErrorInvalidParameter,
                       [&] { return FileSystem::SetEnd(handle); });
    }
    ErrorCode SetTimes(FileHandle handle, const FileTime* created, const FileTime* accessed,
                       const FileTime* modified) {
        return Checked("SetTimes", kErrorInvalidParameter,
                       [&] { return FileSystem::SetTimes(handle, created, accessed, modified); });
    }
    ErrorCode LastError() { return t_fault != kErrorSuccess ? t_fault : FileSystem::LastError(); }
    ErrorCode TempDirectory(stdx::u16string* path) {
        FaultSchedule::Tick("TempDirectory");
        return FileSystem::TempDirectory(path);
    }
    ErrorCode CreateTempFile(const stdx::u16string& directory, const stdx::u16string& prefix,
                             stdx::u16string* path) {
        if (FaultSchedule::Tick("CreateTempFile")) {
            return kErrorTempFile;
        }
        return FileSystem::CreateTempFile(directory, prefix, path);
    }
    ErrorCode CreateUnnamedTempFile(const stdx::u16string& directory, const stdx::u16string& prefix,
                                    FileHandle* handle) {
        if (FaultSchedule::Tick("CreateUnnamedTempFile")) {
            return kErrorTempFile;
        }
        return FileSystem::CreateUnnamedTempFile(directory, prefix, handle);
    }
    ErrorCode MakeDirectory(const stdx::u16string& path) {
        if (FaultSchedule::Tick("MakeDirectory")) {
            return kErrorInvalidParameter;
        }
        return FileSystem::MakeDirectory(path);
    }
    ErrorCode RemoveTree(const stdx::u16string& path) {
        FaultSchedule::Tick("RemoveTree");
        return FileSystem::RemoveTree(path);
    }
    ErrorCode RemoveFile(const stdx::u16string& path) {
        FaultSchedule::Tick("RemoveFile");
        return FileSystem::RemoveFile(path);
    }
    bool GetFileSize(const stdx::u16string& path, std::uint64_t* size) {
        return FaultSchedule::Tick("GetFileSize") || FileSystem::GetFileSize(path, size);
    }
    ErrorCode GetTempFreeSpace(std::uint64_t* freeBytes) {
        if (FaultSchedule::Tick("GetTempFreeSpace")) {
            return kErrorInvalidParameter;
        }
        return FileSystem::GetTempFreeSpace(freeBytes);
    }

    ErrorCode Status(const stdx::u16string& path, FileStatus* status) {
        return Checked("Status", kErrorInvalidParameter,
                       [&] { return FileSystem::Status(path, status); });
    }
    ErrorCode CreateExclusive(const stdx::u16string& path, bool privateMode, FileHandle* handle) {
        return Checked("CreateExclusive", kErrorInvalidParameter,
                       [&] { return FileSystem::CreateExclusive(path, privateMode, handle); });
    }
    ErrorCode CreateDirectory(const stdx::u16string& path, bool privateMode) {
        return Checked("CreateDirectory", kErrorInvalidParameter,
                       [&] { return FileSystem::CreateDirectory(path, privateMode); });
    }
    ErrorCode Rename(const stdx::u16string& from, const stdx::u16string& to, bool replace) {
        return Checked("Rename", kErrorInvalidParameter,
                       [&] { return FileSystem::Rename(from, to, replace); });
    }
    ErrorCode RemoveDirectory(const stdx::u16string& path) {
        return Checked("RemoveDirectory", kErrorInvalidParameter,
                       [&] { return FileSystem::RemoveDirectory(path); });
    }
    ErrorCode OpenDirectory(const stdx::u16string& path, FileHandle* handle) {
        return Checked("OpenDirectory", kErrorInvalidParameter,
                       [&] { return FileSystem::OpenDirectory(path, handle); });
    }
    ErrorCode Sync(FileHandle handle) {
        return Checked("Sync", kErrorInvalidParameter, [&] { return FileSystem::Sync(handle); });
    }
    ErrorCode SyncDirectory(const stdx::u16string& path) {
        return Checked("SyncDirectory", kErrorInvalidParameter,
                       [&] { return FileSystem::SyncDirectory(path); });
    }
    ErrorCode Lock(FileHandle handle, bool wait) {
        return Checked("Lock", kErrorInvalidParameter,
                       [&] { return FileSystem::Lock(handle, wait); });
    }
    ErrorCode HandleStatus(FileHandle handle, FileStatus* status, bool* linked) {
        return Checked("HandleStatus", kErrorInvalidHandle,
                       [&] { return FileSystem::HandleStatus(handle, status, linked); });
    }

    ErrorCode OpenDirectoryAt(FileHandle directory, const std::string& name, FileHandle* handle) {
        return Checked("OpenDirectoryAt", kErrorInvalidParameter,
                       [&] { return FileSystem::OpenDirectoryAt(directory, name, handle); });
    }
    ErrorCode StatusAt(FileHandle directory, const std::string& name, FileStatus* status) {
        return Checked("StatusAt", kErrorInvalidParameter,
                       [&] { return FileSystem::StatusAt(directory, name, status); });
    }
    ErrorCode CreateExclusiveAt(FileHandle directory, const std::string& name, bool privateMode,
                                FileHandle* handle) {
        return Checked("CreateExclusiveAt", kErrorInvalidParameter, [&] {
            return FileSystem::CreateExclusiveAt(directory, name, privateMode, handle);
        });
    }
    ErrorCode CreateDirectoryAt(FileHandle directory, const std::string& name, bool privateMode) {
        return Checked("CreateDirectoryAt", kErrorInvalidParameter,
                       [&] { return FileSystem::CreateDirectoryAt(directory, name, privateMode); });
    }
    ErrorCode RenameAt(FileHandle fromDirectory, const std::string& from, FileHandle toDirectory,
                       const std::string& to, bool replace) {
        return Checked("RenameAt", kErrorInvalidParameter, [&] {
            return FileSystem::RenameAt(fromDirectory, from, toDirectory, to, replace);
        });
    }
    ErrorCode ExchangeAt(FileHandle firstDirectory, const std::string& first,
                         FileHandle secondDirectory, const std::string& second) {
        return Checked("ExchangeAt", kErrorInvalidParameter, [&] {
            return FileSystem::ExchangeAt(firstDirectory, first, secondDirectory, second);
        });
    }
    ErrorCode RemoveFileAt(FileHandle directory, const std::string& name) {
        return Checked("RemoveFileAt", kErrorInvalidParameter,
                       [&] { return FileSystem::RemoveFileAt(directory, name); });
    }
    ErrorCode RemoveDirectoryAt(FileHandle directory, const std::string& name) {
        return Checked("RemoveDirectoryAt", kErrorInvalidParameter,
                       [&] { return FileSystem::RemoveDirectoryAt(directory, name); });
    }
    ErrorCode ListDirectory(FileHandle directory, std::vector<std::string>* names) {
        return Checked("ListDirectory", kErrorInvalidParameter,
                       [&] { return FileSystem::ListDirectory(directory, names); });
    }
    bool SyncFileSystem(FileHandle handle, ErrorCode* code) {
        if (FaultSchedule::Tick("SyncFileSystem")) {
            *code = kErrorInvalidParameter;
            return true;
        }
        return FileSystem::SyncFileSystem(handle, code);
    }
    ErrorCode FlushDeviceCache(FileHandle handle) {
        return Checked("FlushDeviceCache", kErrorInvalidParameter,
                       [&] { return FileSystem::FlushDeviceCache(handle); });
    }
    ErrorCode StorageOf(const stdx::u16string& path, StorageInfo* info) {
        return Checked("StorageOf", kErrorInvalidParameter,
                       [&] { return FileSystem::StorageOf(path, info); });
    }
    bool CopyRangeAt(FileHandle source, std::uint64_t offset, FileHandle target,
                     std::uint32_t count, std::uint32_t* copied, ErrorCode* code) {
        if (FaultSchedule::Tick("CopyRangeAt")) {
            t_fault = kErrorInvalidParameter;
            *copied = 0;
            *code = kErrorInvalidParameter;
            return true;
        }
        t_fault = kErrorSuccess;
        return FileSystem::CopyRangeAt(source, offset, target, count, copied, code);
    }
    ErrorCode ReadAt(FileHandle handle, std::uint64_t offset, void* buffer, std::uint32_t count,
                     std::uint32_t* countRead) {
        return Checked("ReadAt", kErrorInvalidParameter, [&] {
            return FileSystem::ReadAt(handle, offset, buffer, count, countRead);
        });
    }

private:
    // The code of the last injected descriptor failure on this thread, for
    // LastError; 0 once a later descriptor operation ran for real.
    static inline thread_local ErrorCode t_fault = kErrorSuccess;

    template <class Operation>
    static ErrorCode Checked(const char* name, ErrorCode failure, Operation operation) {
        if (FaultSchedule::Tick(name)) {
            t_fault = failure;
            return failure;
        }
        t_fault = kErrorSuccess;
        return operation();
    }
};

// The directory search that goes with FaultInjectingFileSystem: a failing
// First or Next finds nothing.
class FaultInjectingFileFinder : public FileFinder {
public:
    bool First(const stdx::u16string& searchPath) {
        return !FaultSchedule::Tick("First") && FileFinder::First(searchPath);
    }
    bool Next() { return !FaultSchedule::Tick("Next") && FileFinder::Next(); }
};
