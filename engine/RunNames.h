#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "text/String.h"

// The names an installation run gives what it owns, and the tests that
// recognise them. Where each lives is told in RunJournal.h.
namespace run_names {

// A random tag of 16 hexadecimal digits, drawn for each run.
stdx::u16string RandomTag();

// The run directory of a run kept on the template directory's own file
// system: ".qa-<tag>.run", made in the template directory, or in its
// nearest existing ancestor while it does not exist yet.
stdx::u16string HiddenRunName(const stdx::u16string& tag);
// Whether a name is ".qa-" followed by 16 hexadecimal digits and ".run".
bool IsHiddenRunName(const std::string& name);

// The run directories kept in the temporary directory: "qrstp" followed by
// a decimal number.
constexpr const char16_t* kTempRunPrefix = u"qrstp";
// Whether a name is "qrstp" followed by decimal digits only.
bool IsTempRunName(const stdx::u16string& name);

// The entries of a run directory: the journal, the backup directory that
// holds the files the run replaced, and the stage directory that holds the
// run's new files until they are renamed into place (one subdirectory per
// writing thread, named by its number).
constexpr const char16_t* kJournalName = u"journal";
constexpr const char16_t* kBackupName = u"files";
constexpr const char16_t* kStageName = u"stage";

// The most threads that write a run's files.
constexpr std::size_t kMaxWriters = 2;

// The temporary names under which runs of an earlier version wrote a file
// in its own directory before renaming it: ".qa-<tag>.tmp", or
// ".qa-<tag>.<n>.tmp" for writer n. A recovery still removes them.
stdx::u16string TemporaryName(const stdx::u16string& tag, std::size_t writer);
// The hidden backup directory of such runs inside the template directory:
// ".qa-<tag>.backup".
stdx::u16string HiddenBackupName(const stdx::u16string& tag);

// Whether a level of a kit name equals one of a run's private names for
// this tag (the run directory, and the names of earlier versions), ASCII
// letters compared without case as a case-insensitive file system would.
bool NameMeetsTag(const stdx::u16string& kitName, const stdx::u16string& tag);
// Whether any of a kit's names does.
bool AnyNameMeetsTag(const std::vector<const stdx::u16string*>& kitNames,
                     const stdx::u16string& tag);

}  // namespace run_names
