#include "engine/fs/FileFinder.h"

#include <fnmatch.h>

#include <cstring>
#include <string>

#include "text/Encoding.h"

namespace {

std::string Narrow(const stdx::u16string& text) {
    stdx::string bytes = Utf16ToUtf8(text);
    return std::string(bytes.c_str(), bytes.size());
}

// The directory part of a search path: everything before its last "/", or
// "/" itself for a pattern right below the root.
std::string DirectoryOf(const std::string& searchPath) {
    const std::size_t slash = searchPath.rfind('/');
    if (slash == std::string::npos) {
        return searchPath;
    }
    return slash == 0 ? std::string("/") : searchPath.substr(0, slash);
}

}  // namespace

FileFinder::FileFinder() : m_directory(nullptr), m_isLink(false) {
    std::memset(&m_status, 0, sizeof(m_status));
}

FileFinder::~FileFinder() {
    CloseDirectory();
}

void FileFinder::CloseDirectory() {
    if (m_directory != nullptr) {
        ::closedir(m_directory);
        m_directory = nullptr;
    }
}

bool FileFinder::First(const stdx::u16string& searchPath) {
    CloseDirectory();
    m_searchPath = searchPath;
    const std::size_t slash = searchPath.rfind(u'/');
    m_pattern = slash == stdx::u16string::npos ? searchPath : searchPath.substr(slash + 1);
    std::memset(&m_status, 0, sizeof(m_status));
    m_isLink = false;
    const std::string path = Narrow(searchPath);

    if (m_pattern.find(u'*') == stdx::u16string::npos) {
        m_name = m_pattern;
        struct stat own;
        if (::lstat(path.c_str(), &own) != 0) {
            return false;
        }
        m_isLink = S_ISLNK(own.st_mode);
        // A dangling link still exists as an entry.
        if (::stat(path.c_str(), &m_status) != 0) {
            m_status = own;
        }
        return true;
    }

    m_name = stdx::u16string();
    // With no "/" the whole search path names the directory, which then
    // holds a "*" and is normally missing, so the search fails.
    m_directory = ::opendir(DirectoryOf(path).c_str());
    if (m_directory == nullptr) {
        return false;
    }
    return Next();
}

bool FileFinder::Next() {
    if (m_directory == nullptr) {
        return false;
    }
    const std::string pattern = Narrow(m_pattern);
    const std::string directory = DirectoryOf(Narrow(m_searchPath));
    for (;;) {
        const dirent* entry = ::readdir(m_directory);
        if (entry == nullptr) {
            CloseDirectory();
            return false;
        }
        const int match = ::fnmatch(pattern.c_str(), entry->d_name, FNM_PATHNAME);
        if (match == FNM_NOMATCH) {
            continue;
        }
        if (match != 0) {
            return false;
        }
        std::string full = directory;
        if (full.back() != '/') {
            full.push_back('/');
        }
        full += entry->d_name;
        struct stat own;
        // An entry removed since readdir listed it is simply not there any
        // more; stopping the whole search on it would hide the entries after
        // it from a rollback.
        if (::lstat(full.c_str(), &own) != 0) {
            continue;
        }
        m_isLink = S_ISLNK(own.st_mode);
        if (::stat(full.c_str(), &m_status) != 0) {
            m_status = own;
        }
        m_name = Utf8ToUtf16(stdx::string(entry->d_name));
        return true;
    }
}

stdx::u16string FileFinder::Name() const {
    return m_name;
}

std::uint32_t FileFinder::IsDirectory() const {
    return S_ISDIR(m_status.st_mode) ? 16u : 0u;
}

bool FileFinder::IsSymbolicLink() const {
    return m_isLink;
}
