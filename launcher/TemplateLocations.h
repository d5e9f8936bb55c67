#pragma once

#include <vector>

#include "engine/fs/FileFinder.h"
#include "engine/fs/FileSystem.h"
#include "launcher/ConfigKeys.h"
#include "launcher/ConfigList.h"
#include "launcher/ConfigWriter.h"
#include "launcher/LauncherConfig.h"
#include "text/String.h"

// The template directories recorded under "ConfigurationTemplatesLocation"
// in the launcher's files. Which files `alternate` selects is told at
// LauncherConfig.

// Replaces `locations` with the configured template directories: those of
// the user file, then those of the common file, each in file order, with
// "\" turned into "/" and duplicates removed. Missing or unreadable files
// give fewer (or no) locations; nothing is thrown.
void LoadTemplateLocations(std::vector<stdx::u16string>& locations, bool alternate);

// Removes every location that names, without regard to case and to one
// trailing "/" or "\", the same directory as an earlier one. The ones kept
// stay as they were written, in their order.
void RemoveDuplicateLocations(std::vector<stdx::u16string>& locations);

// The directory part of a path: everything before its last "/" or "\".
// Empty when there is no separator.
stdx::u16string ParentOfPath(const stdx::u16string& path);

// Whether two directory paths are equal apart from trailing "/".
bool IsSameDirectory(const stdx::u16string& a, const stdx::u16string& b);

// Records `locations` (duplicates removed) as the values of
// "ConfigurationTemplatesLocation" in the user file selected by `alternate`,
// leaving out relative ones (they name no fixed directory for the launcher);
// an empty list removes the key. Every other line of the file is kept byte
// for byte (ReplaceKeyLines). The common file is never written. The file
// and its directories are created when missing. One failed write is retried
// after making sure the file's directory exists. Throws the int codes of
// WriteConfigText when the retry fails too, and kConfigCannotCreate, with
// nothing written, when the user file is there but could not be read whole
// (a pipe, a device, a read error): rewriting it from a part would lose the
// rest.
template <class Fs, class Io>
void SaveTemplateLocations(const std::vector<stdx::u16string>& locations, bool alternate, Fs& fs,
                           Io& io) {
    LauncherConfig config(alternate);
    config.Load();
    if (!config.m_userReadWhole) {
        throw kConfigCannotCreate;
    }
    std::vector<stdx::u16string> kept;
    for (const stdx::u16string& location : locations) {
        // A relative location names no fixed directory for the launcher.
        if (!location.empty() && location[0] == u'/') {
            kept.push_back(location);
        }
    }
    RemoveDuplicateLocations(kept);
    const std::string text = ReplaceKeyLines(config.m_userBytes, kTemplatesLocationKey, kept);

    const stdx::u16string path = config.UserPath();
    const stdx::u16string directory = ParentOfPath(path);
    FileFinder finder;
    if (!finder.First(path) && !directory.empty()) {
        fs.MakeDirectory(directory);
    }
    try {
        WriteConfigText(path, text, io);
    } catch (int) {
        // The directory may have gone, or its creation above failed for a
        // passing reason; anything else fails again and is reported.
        if (!directory.empty()) {
            fs.MakeDirectory(directory);
        }
        WriteConfigText(path, text, io);
    }
}

// The same through the real file system.
void SaveTemplateLocations(const std::vector<stdx::u16string>& locations, bool alternate);

// True when an empty file can be created in `directory` (it is removed
// again). False for an empty or relative path, which names no fixed
// directory, and when the file system put the probe anywhere else.
template <class Fs>
bool IsDirectoryWritable(const stdx::u16string& directory, Fs& fs) {
    if (directory.empty() || directory[0] != u'/') {
        return false;
    }
    stdx::u16string probe;
    if (fs.CreateTempFile(directory, u"Qa", &probe) != kErrorSuccess || probe.empty()) {
        return false;
    }
    fs.RemoveFile(probe);
    return IsSameDirectory(ParentOfPath(probe), directory);
}

// The same through the real file system.
bool IsDirectoryWritable(const stdx::u16string& directory);

// Every template directory this user's launcher files name (the user file,
// the alternate user file and the common file), the default one, and
// `extra` unless it is empty: where a start looks for runs that were cut
// short. Only absolute paths, without duplicates.
std::vector<stdx::u16string> KnownTemplateLocations(const stdx::u16string& extra);
