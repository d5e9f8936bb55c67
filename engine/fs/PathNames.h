#pragma once

#include <string>

#include "text/Encoding.h"
#include "text/String.h"

// The few path manipulations every layer needs, in one place: paths here
// are absolute or relative strings with "/" between levels, in UTF-16 or in
// the UTF-8 bytes the system calls take. Nothing here touches the disk.
namespace path_names {

// The path without trailing "/"; "/" itself stays "/".
template <class Text>
Text WithoutTrailingSlash(const Text& path) {
    std::size_t end = path.size();
    while (end > 1 && path[end - 1] == '/') {
        --end;
    }
    return end == path.size() ? path : path.substr(0, end);
}

// The path with exactly the "/" it ends with, or one added; an empty path
// stays empty.
template <class Text>
Text WithTrailingSlash(const Text& path) {
    if (path.empty() || path[path.size() - 1] == '/') {
        return path;
    }
    Text with = path;
    with.push_back('/');
    return with;
}

// The part of the path before its last "/" (trailing "/" ignored, so
// "a/b/" gives "a"); "/" for a level right below the root; the path itself
// when it has no "/".
template <class Text>
Text ParentOf(const Text& path) {
    const Text trimmed = WithoutTrailingSlash(path);
    const std::size_t slash = trimmed.rfind('/');
    if (slash == Text::npos) {
        return trimmed;
    }
    return slash == 0 ? trimmed.substr(0, 1) : trimmed.substr(0, slash);
}

// The last level of the path (trailing "/" ignored).
template <class Text>
Text LeafOf(const Text& path) {
    const Text trimmed = WithoutTrailingSlash(path);
    const std::size_t slash = trimmed.rfind('/');
    return slash == Text::npos ? trimmed : trimmed.substr(slash + 1);
}

// Whether text begins with prefix.
template <class Text>
bool StartsWith(const Text& text, const Text& prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (text[i] != prefix[i]) {
            return false;
        }
    }
    return true;
}

// The UTF-8 bytes of a path, as the system calls take them.
inline std::string Narrow(const stdx::u16string& path) {
    const stdx::string bytes = Utf16ToUtf8(path);
    return std::string(bytes.c_str(), bytes.size());
}

// The path of UTF-8 bytes as UTF-16.
inline stdx::u16string Wide(const std::string& bytes) {
    return Utf8ToUtf16(stdx::string(bytes.data(), bytes.size()));
}

// A relative path ("/" between levels) as its folder ("" at the top) and
// its last level.
inline void SplitLast(const std::string& relative, std::string* folder, std::string* leaf) {
    const std::size_t slash = relative.rfind('/');
    *folder = slash == std::string::npos ? std::string() : relative.substr(0, slash);
    *leaf = slash == std::string::npos ? relative : relative.substr(slash + 1);
}

// targetDir (ending with "/") followed by a kit name with every "\" turned
// into "/".
inline stdx::u16string InstalledPath(const stdx::u16string& targetDir,
                                     const stdx::u16string& kitName) {
    stdx::u16string path(targetDir);
    path.reserve(targetDir.size() + kitName.size());
    for (char16_t unit : kitName) {
        path.push_back(unit == u'\\' ? u'/' : unit);
    }
    return path;
}

}  // namespace path_names
