#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/fs/ErrorCodes.h"
#include "engine/fs/FileSystem.h"
#include "text/Encoding.h"
#include "text/String.h"

// The write-ahead journal of one installation run: enough to undo the run
// from the disk alone after the process died at any point.
//
// Place. Each run owns a run directory "qrstp<N>" (mode 0700) in the
// temporary directory (FileSystem::TempDirectory). It holds the journal,
// "journal" (mode 0600), and normally the backup directory "files" (0700).
// When the template directory lies on another file system than the
// temporary directory, the backup directory is a hidden ".qa-<tag>.backup"
// (0700) inside the template directory instead, so that backing up and
// restoring are renames on one file system: they never copy and never need
// free space. Inside, not beside: the template directory is the one place
// the run is sure to be allowed to write. The tag is random and chosen so
// that no kit name's first component equals the name, whatever the case.
// A later start looks for journals only in its own temporary directory: a
// start with another TMPDIR does not see a run made with the first one.
//
// Format. A sequence of records, each one letter, a decimal byte count, ":",
// that many bytes (UTF-8, any byte allowed) and "\n":
//   header: "V" ("1"), "T" template directory, "B" backup directory (both
//     absolute, ending in "/"), "X" the tag, then "H" with no bytes ("H0:");
//     nothing below is acted on without a complete header.
//   entries, one before each change it describes, file paths relative to
//     the template directory with "/":
//     "D" a directory level about to be created (absolute: the run may
//         create the template directory itself and levels above it);
//     "N" a file about to be written where nothing stood;
//     "R" a file about to be moved into the backup (same relative path)
//         and written anew;
//     "O" a file the run itself wrote, about to be written again;
//     "C" (no bytes) every file is in place: the run is complete.
// Every file is first written under a temporary name in its directory and
// then renamed to its name: "<its directory>/.qa-<tag>.tmp", or
// ".qa-<tag>.<n>.tmp" for the n-th of a run's other writers (up to
// kMaxWriters in all), so the temporaries of any entry are known from the
// header. A record cut short by a crash ends the journal.
//
// Undo (RunUndo.h) removes the temporaries of all entries and the "N"
// files, moves every file found in the backup directory back over its
// template path, and removes the "D" directories (when empty) from last to
// first. It is
// idempotent, so a rollback or a recovery that is itself killed is finished
// by running it again. A journal holding "C" is completed instead: only the
// backup directory and the run directory are removed.
//
// Durability. The header is fsynced, and the run, journal and backup
// directories' entries are fsynced in their parents, before the first
// change to the template directory. Entries are written (not synced) one by
// one: a killed process keeps the page cache, so after a kill the journal
// is complete up to the change that was in hand. Before "C" is written, the
// template directory is fsynced, and "C" itself is: on a journalling file
// system (ext4, XFS, APFS) an fsync commits the file system's metadata
// journal as a whole, so a durable "C" implies that every rename of the run
// is durable.
//
// A power cut can lose the tail of the journal and any renames not yet on
// disk. An original file is never lost: the run never deletes or writes one;
// it only renames it into the backup directory, and a rename on a
// journalling file system is atomic, so after the cut each original is
// either at its place or in the backup directory, and undo restores from
// what it finds in the backup directory, not from the entries. Without a
// durable "C" the run is undone. What a cut can leave: a new file or an
// empty directory whose entry was lost (undo does not know it), and new
// files of a completed run whose data the disk had not yet received: their
// bytes are not synced one by one (that would cost a disk flush per file),
// so such a file can come back short after a cut.
namespace run_journal {

enum class Step : char {
    Directory = 'D',
    NewFile = 'N',
    Replace = 'R',
    Overwrite = 'O',
    Complete = 'C',
};

struct Entry {
    Step step = Step::NewFile;
    // For a file, its path below the template directory with "/"; for a
    // directory, its absolute path (the run may create the template
    // directory and levels above it); empty for Complete.
    stdx::u16string path;
};

struct Header {
    stdx::u16string targetDir;  // ends with "/"
    stdx::u16string backupDir;  // ends with "/"
    stdx::u16string tag;
};

// The name of the journal in its run directory.
inline const char16_t* JournalName() {
    return u"journal";
}

// The most threads that write a run's files; each has a temporary name of
// its own, so that two of them may write into one directory at once.
constexpr std::size_t kMaxWriters = 2;

// The temporary name under which writer number `writer` (below
// kMaxWriters) writes a file before renaming it to its own name.
inline stdx::u16string TemporaryName(const stdx::u16string& tag, std::size_t writer) {
    if (writer == 0) {
        return u".qa-" + tag + u".tmp";
    }
    return u".qa-" + tag + u"." + stdx::u16string(1, static_cast<char16_t>(u'0' + writer)) +
           u".tmp";
}

// The same in `directory` (no trailing "/").
inline stdx::u16string TemporaryIn(const stdx::u16string& directory, const stdx::u16string& tag,
                                   std::size_t writer) {
    return directory + u"/" + TemporaryName(tag, writer);
}

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

inline std::string EncodeEntry(const Entry& entry) {
    std::string out;
    AppendRecord(static_cast<char>(entry.step), entry.path, &out);
    return out;
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
        if (letter != 'D' && letter != 'N' && letter != 'R' && letter != 'O' && letter != 'C') {
            break;
        }
        Entry entry;
        entry.step = static_cast<Step>(letter);
        entry.path = text;
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
