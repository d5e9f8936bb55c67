#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/fs/ErrorCodes.h"
#include "engine/fs/FileSystem.h"
#include "text/Encoding.h"
#include "text/String.h"

// The write-ahead journal of one installation run: enough to undo the run
// from the disk alone, however it ended: a failure, a cancel, a killed
// process or a power cut.
//
// Place. Each run owns a run directory (mode 0700) on the template
// directory's own file system, so that backing up and restoring are renames
// that never copy and never need free space, and so that the journal is on
// storage that survives a power cut:
//   - "qrstp<N>" in the temporary directory (FileSystem::TempDirectory),
//     when that is persistent storage on the same file system as the
//     template directory (or, while it does not exist, its nearest existing
//     ancestor);
//   - otherwise ".qa-<tag>.run" (hidden) in the template directory, or in
//     its nearest existing ancestor while it does not exist yet.
// The run directory holds the journal, "journal" (0600); the backup
// directory "files" (0700), where each file the run replaces is renamed to
// its path below the template directory; and the stage directory "stage"
// (0700), where each new file is first written whole, under a name of its
// own, before it is renamed into place; the files of a folder the template
// directory lacks are written instead at their own paths below "stage/t",
// so that each such folder is renamed into place whole, with the levels
// and files below it. The tag is random and chosen so that
// no level of a kit name equals the run's private names, whatever the case.
// A later start finds runs through RunFinder.h: in its temporary directory
// and in every template location it knows and their ancestors.
//
// Format. A sequence of records, each one letter, a decimal byte count, ":",
// that many bytes (UTF-8, any byte allowed) and "\n":
//   header: "V" ("1"), "T" template directory, "B" backup directory (both
//     absolute, ending in "/"), "X" the tag, then "H" with no bytes ("H0:");
//     nothing below is acted on without a complete header.
//   entries, each written before the change it describes, file paths
//     relative to the template directory with "/":
//     "D" a directory level about to be created (absolute: the run may
//         create the template directory itself and levels above it);
//     "N" a file about to be renamed into place where nothing stood;
//     "R" a file whose earlier copy is about to be moved into the backup
//         (same relative path) before the new one is renamed into place;
//     "O" a file the run itself put in place, about to be replaced again;
//     "E" a file whose earlier copy is about to be exchanged with its
//         staged copy in one step, the earlier copy landing at the staged
//         copy's place: "<seconds> <size> <stage> <path>", the staged
//         copy's modification time (whole seconds) and size as the file
//         system keeps them, and its path below the stage directory;
//     "C" (no bytes) every file is in place: the run is complete.
// A record cut short ends the journal. Runs of an earlier version wrote
// each file under a temporary name in its own directory (RunNames.h) and
// may have kept the backup in ".qa-<tag>.backup" inside the template
// directory; undo still removes those temporaries and takes that backup.
//
// Order of a run. (1) The run directory, the journal with its header, and
// the backup and stage directories are made. (2) Every file to be written
// goes whole into the stage directory, with its time; nothing in the
// template directory changes. (3) The entries of every change (all "D",
// "N", "R", "O" and "E") are written, and then one durability point makes the
// header, the entries, the run directory's own entries and every staged
// file durable. (4) Staged folders are renamed into place (a rename that
// replaces nothing, after the levels above them are made), then the "E"
// files are exchanged with their earlier copies (in any order, on two
// threads when there are many), then, in kit order, earlier copies are
// renamed into the backup, missing levels made, staged files renamed into
// place. (5) A second durability point makes all of those renames durable.
// (6) "C" is written and synced.
// Only then are the backups removed and success reported.
//
// A durability point is one syncfs(2) of the template's file system where
// the platform has it; elsewhere an fsync of every staged file, of the
// journal and of every directory whose entries changed, followed on macOS
// by one F_FULLFSYNC, since fsync there does not reach the medium
// (DurableSync.h).
//
// Undo (RunUndo.h) removes the stage directory, the temporaries of earlier
// versions and the "N" files, moves every file found in the backup
// directory back over its template path, and removes the "D" directories
// (when empty), deepest first, each depth only once what was removed below
// it is durable; it makes all that durable before the journal is removed,
// and it is idempotent, so an undo that is itself interrupted is finished
// by running it again. A journal holding "C" is completed instead: only
// the backup and the run directory are removed.
//
// What a power cut can leave. Before (3) is durable the template directory
// is untouched, and whatever the cut kept of the run directory is removed.
// From then on every change the run can make is in the durable journal and
// every byte it renames into place is durable, so undo restores the
// directory exactly, from what it finds in the backup directory: an
// original is only ever renamed, never written or deleted before "C" is
// durable. After "C" is durable every file is in place with its bytes and
// time. So the next start leaves the template directory as it was before
// the run, or fully installed, and nothing else.
//
// Exchanges. Where the platform can swap two names in one step, a file that
// replaces an earlier copy ("E") is exchanged with it: one rename instead
// of two, the earlier copy then lying in the stage directory. Whether the
// swap happened (and reached the disk) shows from the template side: only
// a swap puts the staged copy there, durable with its time and size since
// (3), and the earlier copy, which the plan found older (or the same
// second and another size), never has that time and size. The stage side
// cannot tell: a cut before (3) was durable may have kept the "E" entries
// and any part of a staged copy. Undo first moves every earlier copy it
// finds there back over its template path, makes that durable, and only
// then removes the stage directory. When the file system refuses the swap,
// the run takes the two renames through the backup directory instead,
// which the same undo covers.
namespace run_journal {

enum class Step : char {
    Directory = 'D',
    NewFile = 'N',
    Replace = 'R',
    Overwrite = 'O',
    Exchange = 'E',
    Complete = 'C',
};

struct Entry {
    Entry() = default;
    Entry(Step kind, stdx::u16string where) : step(kind), path(std::move(where)) {}

    Step step = Step::NewFile;
    // For a file, its path below the template directory with "/"; for a
    // directory, its absolute path (the run may create the template
    // directory and levels above it); empty for Complete.
    stdx::u16string path;
    // Exchange: the staged copy's path below the stage directory, and its
    // time (whole seconds) and size.
    stdx::u16string stage;
    std::int64_t seconds = 0;
    std::uint64_t size = 0;
};

struct Header {
    stdx::u16string targetDir;  // ends with "/"
    stdx::u16string backupDir;  // ends with "/"
    stdx::u16string tag;
};

// Appends one record whose bytes are already UTF-8.
inline void AppendRecordBytes(char letter, const char* bytes, std::size_t size, std::string* out) {
    out->push_back(letter);
    out->append(std::to_string(size));
    out->push_back(':');
    out->append(bytes, size);
    out->push_back('\n');
}

inline void AppendRecord(char letter, const stdx::u16string& text, std::string* out) {
    const stdx::string bytes = Utf16ToUtf8(text);
    AppendRecordBytes(letter, bytes.c_str(), bytes.size(), out);
}

// The header records, ready to be written in one piece.
inline std::string EncodeHeader(const Header& header) {
    std::string out;
    AppendRecord('V', u"1", &out);
    AppendRecord('T', header.targetDir, &out);
    AppendRecord('B', header.backupDir, &out);
    AppendRecord('X', header.tag, &out);
    AppendRecord('H', stdx::u16string(), &out);
    return out;
}

// The bytes of an "E" record; `stage` holds no space.
inline std::string ExchangeBytes(std::int64_t seconds, std::uint64_t size, const std::string& stage,
                                 const std::string& path) {
    return std::to_string(seconds) + ' ' + std::to_string(size) + ' ' + stage + ' ' + path;
}

inline std::string EncodeEntry(const Entry& entry) {
    std::string out;
    if (entry.step == Step::Exchange) {
        const stdx::string stage = Utf16ToUtf8(entry.stage);
        const stdx::string path = Utf16ToUtf8(entry.path);
        const std::string bytes =
            ExchangeBytes(entry.seconds, entry.size, std::string(stage.data(), stage.size()),
                          std::string(path.data(), path.size()));
        AppendRecordBytes('E', bytes.data(), bytes.size(), &out);
    } else {
        AppendRecord(static_cast<char>(entry.step), entry.path, &out);
    }
    return out;
}

// Reads the bytes of an "E" record into entry. False when malformed.
inline bool DecodeExchange(const std::string& raw, Entry* entry) {
    const std::size_t first = raw.find(' ');
    const std::size_t second = first == std::string::npos ? first : raw.find(' ', first + 1);
    const std::size_t third = second == std::string::npos ? second : raw.find(' ', second + 1);
    if (third == std::string::npos || third + 1 == raw.size() || third == second + 1) {
        return false;
    }
    auto number = [](const std::string& digits, bool sign, std::uint64_t* value, bool* negative) {
        *negative = sign && !digits.empty() && digits[0] == '-';
        std::size_t at = *negative ? 1 : 0;
        if (at == digits.size() || digits.size() - at > 19) {
            return false;
        }
        *value = 0;
        for (; at < digits.size(); ++at) {
            if (digits[at] < '0' || digits[at] > '9') {
                return false;
            }
            *value = *value * 10 + static_cast<std::uint64_t>(digits[at] - '0');
        }
        return true;
    };
    std::uint64_t seconds = 0;
    bool negative = false;
    bool unused = false;
    if (!number(raw.substr(0, first), true, &seconds, &negative) ||
        seconds > static_cast<std::uint64_t>(INT64_MAX) ||
        !number(raw.substr(first + 1, second - first - 1), false, &entry->size, &unused)) {
        return false;
    }
    entry->seconds =
        negative ? -static_cast<std::int64_t>(seconds) : static_cast<std::int64_t>(seconds);
    const std::string stage = raw.substr(second + 1, third - second - 1);
    const std::string path = raw.substr(third + 1);
    entry->stage = Utf8ToUtf16(stdx::string(stage.data(), stage.size()));
    entry->path = Utf8ToUtf16(stdx::string(path.data(), path.size()));
    return true;
}

// Reads the records of a journal's bytes. True when the header is complete
// (version 1, both directories absolute and ending in "/", a tag); the
// entries are then every whole record after it, up to the first one cut
// short or malformed.
inline bool Decode(const std::string& bytes, Header* header, std::vector<Entry>* entries) {
    *header = Header();
    entries->clear();
    std::size_t at = 0;
    bool complete = false;
    bool version = false;
    while (at < bytes.size()) {
        const char letter = bytes[at];
        std::size_t colon = bytes.find(':', at + 1);
        if (colon == std::string::npos || colon == at + 1 || colon - at > 12) {
            break;
        }
        std::uint64_t length = 0;
        bool digits = true;
        for (std::size_t i = at + 1; i < colon; ++i) {
            if (bytes[i] < '0' || bytes[i] > '9') {
                digits = false;
                break;
            }
            length = length * 10 + static_cast<std::uint64_t>(bytes[i] - '0');
        }
        if (!digits || length > bytes.size() - colon - 1 || colon + 1 + length >= bytes.size() ||
            bytes[colon + 1 + length] != '\n') {
            break;
        }
        const std::string raw = bytes.substr(colon + 1, length);
        const stdx::u16string text = Utf8ToUtf16(stdx::string(raw.data(), raw.size()));
        at = colon + 2 + length;
        if (!complete) {
            switch (letter) {
                case 'V':
                    version = raw == "1";
                    break;
                case 'T':
                    header->targetDir = text;
                    break;
                case 'B':
                    header->backupDir = text;
                    break;
                case 'X':
                    header->tag = text;
                    break;
                case 'H':
                    complete = true;
                    break;
                default:
                    return false;
            }
            continue;
        }
        if (letter != 'D' && letter != 'N' && letter != 'R' && letter != 'O' && letter != 'E' &&
            letter != 'C') {
            break;
        }
        Entry entry;
        entry.step = static_cast<Step>(letter);
        entry.path = text;
        if (letter == 'E' && !DecodeExchange(raw, &entry)) {
            break;
        }
        entries->push_back(entry);
    }
    auto absoluteDirectory = [](const stdx::u16string& path) {
        return path.size() > 1 && path.front() == u'/' && path.back() == u'/';
    };
    return complete && version && absoluteDirectory(header->targetDir) &&
           absoluteDirectory(header->backupDir) && !header->tag.empty();
}

// Whether the entries end the run as complete.
inline bool IsComplete(const std::vector<Entry>& entries) {
    for (const Entry& entry : entries) {
        if (entry.step == Step::Complete) {
            return true;
        }
    }
    return false;
}

// Reads a whole open file from its start. 0, or the code of FS::Read.
template <class FS>
ErrorCode ReadAll(FS& fileSystem, FileHandle handle, std::string* bytes) {
    bytes->clear();
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        std::uint32_t got = 0;
        const ErrorCode code =
            fileSystem.Read(handle, buffer.data(), static_cast<std::uint32_t>(buffer.size()), &got);
        if (code != kErrorSuccess) {
            return code;
        }
        if (got == 0) {
            return kErrorSuccess;
        }
        bytes->append(buffer.data(), got);
    }
}

// Writes all of `bytes` to the journal. 0 or the code of FS::Write.
template <class FS>
ErrorCode WriteRecords(FS& fileSystem, FileHandle handle, const std::string& bytes) {
    std::uint32_t written = 0;
    return fileSystem.Write(handle, bytes.data(), static_cast<std::uint32_t>(bytes.size()),
                            &written);
}

}  // namespace run_journal
