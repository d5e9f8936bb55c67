#pragma once

#include <cerrno>
#include <string>

#include "launcher/ConfigFileIo.h"
#include "launcher/ConfigList.h"
#include "text/Encoding.h"
#include "text/String.h"

// Codes thrown by WriteConfigFile, as an int.
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

// Where the new file is written before it replaces `target`; `attempt`
// picks another name when one is taken.
std::string TemporaryNameFor(const std::string& target, int attempt);

// The directory part of a path ("." when there is none).
std::string DirectoryOf(const std::string& path);

// Replaces the file at `path` with the text of FormatConfigText(list), in
// UTF-8 with line feeds and no byte-order mark. A symbolic link is followed.
//
// The file is never left half-written: the lines go to a new file in the
// same directory, which gets the old file's permission bits, is synced and
// then renamed over the old one. On failure the old file is untouched and
// the new one removed, and an int is thrown: kConfigCannotCreate (1) when
// the old file may not be written or the new file cannot be created,
// kConfigWriteError (2) when writing,
// syncing, closing or renaming it fails.
template <class Io>
void WriteConfigFile(const stdx::u16string& path, const ConfigList& list, Io& io) {
    const std::string target = io.Resolve(Utf16ToUtf8(path).c_str());
    mode_t oldMode = 0;
    const bool replacing = io.Mode(target, &oldMode);
    if (replacing && !io.MayWrite(target)) {
        throw kConfigCannotCreate;
    }

    constexpr int kAttempts = 100;
    std::string temporary;
    int descriptor = -1;
    for (int attempt = 0; attempt < kAttempts && descriptor == -1; ++attempt) {
        temporary = TemporaryNameFor(target, attempt);
        descriptor = io.CreateNew(temporary);
        if (descriptor == -1 && errno != EEXIST) {
            break;
        }
    }
    if (descriptor == -1) {
        throw kConfigCannotCreate;
    }

    const std::string text = FormatConfigText(list);
    bool written = io.Write(descriptor, text.data(), text.size());
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

// The same through the real file system.
void WriteConfigFile(const stdx::u16string& path, const ConfigList& list);
