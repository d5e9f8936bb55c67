#pragma once

#include <cerrno>
#include <string>
#include <vector>

#include "launcher/ConfigFileIo.h"
#include "launcher/ConfigList.h"
#include "text/Encoding.h"
#include "text/String.h"

// Codes thrown by WriteConfigText and WriteConfigFile, as an int.
constexpr int kConfigCannotCreate = 1;  // no new file could be made beside the old one
constexpr int kConfigWriteError = 2;    // writing, syncing or replacing failed

// Whether a key and a value can be written as one line that reads back as
// the same key and value: no line feed or zero in either, no "=" in the key.
// A directory name may hold a line feed; written as it is, it would add a
// line of its own choosing to the launcher's settings.
bool IsWritableLine(const stdx::u16string& key, const stdx::u16string& value);

// One line of the file: key, "=", value and a line feed, in UTF-8.
std::string FormatConfigLine(const stdx::u16string& key, const stdx::u16string& value);

// The bytes WriteConfigFile writes for `list`: one line per value, the key
// repeated on each; an entry without values writes nothing, and a value that
// fails IsWritableLine is left out.
std::string FormatConfigText(const ConfigList& list);

// The bytes of a launcher file `text` with the lines of `key` (compared as
// the reader compares keys) replaced by one line per value that passes
// IsWritableLine, where the first of them stood, or at the end when there
// was none. Every other line comes back byte for byte, whatever its
// encoding: the launcher owns the file, and bytes that are not UTF-8 must
// not turn into U+FFFD.
std::string ReplaceKeyLines(const std::string& text, const stdx::u16string& key,
                            const std::vector<stdx::u16string>& values);

// Where the new file is written before it replaces `target`: beside it,
// named after it, this process and `attempt` (another name when one is
// taken), with a tag that no one else's file has, so that
// WriterOfTemporary can tell ours after a crash.
std::string TemporaryNameFor(const std::string& target, int attempt);

// When `name` (an entry of a directory) is what TemporaryNameFor gives for
// a target named `targetName` in that directory, sets *writer to the
// process id in it and returns true.
bool WriterOfTemporary(const std::string& name, const std::string& targetName, long* writer);

// The directory part of a path ("." when there is none).
std::string DirectoryOf(const std::string& path);

// Puts `text` into the open file `descriptor` from its start, cutting it
// after. False when a step fails.
template <class Io>
bool ReplaceContents(int descriptor, const std::string& text, Io& io) {
    return io.Rewind(descriptor) && io.Write(descriptor, text.data(), text.size()) &&
           io.Truncate(descriptor, text.size()) && io.Sync(descriptor);
}

// Writes `text` over the existing file `target` itself, for a directory in
// which no new file may be made. The old bytes are kept in memory and put
// back when the write fails, so that a failure does not leave the
// launcher's settings half written. Throws kConfigCannotCreate when the file
// cannot be opened and read, kConfigWriteError when the write failed.
template <class Io>
void RewriteInPlace(const std::string& target, const std::string& text, Io& io) {
    const int descriptor = io.OpenInPlace(target);
    if (descriptor == -1) {
        throw kConfigCannotCreate;
    }
    std::string old;
    if (!io.ReadAll(descriptor, &old)) {
        io.Close(descriptor);
        throw kConfigCannotCreate;
    }
    if (ReplaceContents(descriptor, text, io)) {
        // Synced: a complaint from close can no longer lose the bytes.
        io.Close(descriptor);
        return;
    }
    ReplaceContents(descriptor, old, io);
    io.Close(descriptor);
    throw kConfigWriteError;
}

// Replaces the file at `path` with `text`. A symbolic link is followed.
//
// The file is never left half-written: the text goes to a new file in the
// same directory, which gets the old file's permission bits (and, as root,
// its owner and group), is synced and then renamed over the old one. When
// the directory does not let us make that new file but the old file may be
// written, the old file is rewritten in place instead (RewriteInPlace). On
// failure the old file is as it was and the new one removed, and an int is
// thrown: kConfigCannotCreate (1) when the old file may not be written, is
// not a regular file, or no new file can be created; kConfigWriteError (2)
// when writing, syncing, closing or renaming fails.
template <class Io>
void WriteConfigText(const stdx::u16string& path, const std::string& text, Io& io) {
    const std::string target = io.Resolve(Utf16ToUtf8(path).c_str());
    if (io.IsOther(target)) {
        throw kConfigCannotCreate;
    }
    mode_t oldMode = 0;
    const bool replacing = io.Mode(target, &oldMode);
    if (replacing && !io.MayWrite(target)) {
        throw kConfigCannotCreate;
    }

    constexpr int kAttempts = 100;
    std::string temporary;
    int descriptor = -1;
    int createError = 0;
    for (int attempt = 0; attempt < kAttempts && descriptor == -1; ++attempt) {
        temporary = TemporaryNameFor(target, attempt);
        descriptor = io.CreateNew(temporary);
        createError = errno;
        if (descriptor == -1 && createError != EEXIST) {
            break;
        }
    }
    if (descriptor == -1) {
        if (replacing && (createError == EACCES || createError == EPERM)) {
            RewriteInPlace(target, text, io);
            return;
        }
        throw kConfigCannotCreate;
    }

    bool written = io.Write(descriptor, text.data(), text.size());
    // Owner first: changing it may clear set-id bits that the mode restores.
    written = written && (!replacing || io.CopyOwner(descriptor, target));
    written = written && (!replacing || io.SetMode(descriptor, oldMode));
    written = written && io.Sync(descriptor);
    // Close even after a failure; a failing close is a write error too.
    written = io.Close(descriptor) && written;
    if (!written || !io.Rename(temporary, target)) {
        io.Remove(temporary);
        throw kConfigWriteError;
    }
    io.SyncDirectory(DirectoryOf(target));
}

// WriteConfigText with the text of FormatConfigText(list): in UTF-8 with
// line feeds and no byte-order mark.
template <class Io>
void WriteConfigFile(const stdx::u16string& path, const ConfigList& list, Io& io) {
    WriteConfigText(path, FormatConfigText(list), io);
}

// The same through the real file system.
void WriteConfigFile(const stdx::u16string& path, const ConfigList& list);
