#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "text/String.h"

// What one run changed, for its caller and the tests; the rollback and the
// recovery work from the run's journal on disk (RunJournal.h), not from
// this. Filled by the run's own thread.
struct BackupEntry {
    // The template directory of the run, ending with "/".
    stdx::u16string m_targetDir;
    // The run directory, ending with "/" (RunPlace.h); empty until made.
    stdx::u16string m_runDir;
    // Where the earlier files go, ending with "/": "files/" in the run
    // directory. Empty until the run has made it.
    stdx::u16string m_backupDir;
    // Every directory level the run created, in the order of creation.
    std::vector<stdx::u16string> m_createdDirs;
    // How many files the run put where nothing stood before.
    std::size_t m_newFileCount = 0;
    // The paths below the template directory (UTF-8, "/" between levels)
    // whose earlier file the run moved away, in the order of the moves:
    // into m_backupDir at the same path, or, by an exchange, to the staged
    // copy's place in the stage directory.
    std::vector<std::string> m_backedUpFiles;
};
