#pragma once

#include <string>

#include "launcher/ConfigList.h"
#include "text/String.h"

// The launcher's configuration as one load or save of the template
// locations sees it: the user file and the common file.
//
// Normally the user file is UserConfigPath() and the common file
// CommonConfigPath(). With `alternate` set, the user file is
// AlternateUserConfigPath() and UserConfigPath() takes the common file's
// place.
class LauncherConfig {
public:
    explicit LauncherConfig(bool alternate) : m_alternate(alternate) {}

    // The file that saves write.
    stdx::u16string UserPath() const;
    // The file that is only read.
    stdx::u16string CommonPath() const;

    // Reads the common file into m_common, then the user file into m_user
    // and its bytes into m_userBytes. Never throws: a missing or unreadable
    // file adds nothing, and a failure while reading one file keeps what was
    // read of it and still reads the other.
    void Load();

    ConfigList m_user;
    ConfigList m_common;
    // The user file as it was on the disk, so that a rewrite can keep the
    // lines it does not change byte for byte.
    std::string m_userBytes;
    // False when a user file is there but m_userBytes is not all of it: it
    // could not be opened or read to its end, or it is not a regular file.
    // Such a file must not be rewritten from what was read.
    bool m_userReadWhole = true;
    const bool m_alternate;
};
