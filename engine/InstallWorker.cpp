#include "engine/InstallWorker.h"

namespace install_worker_detail {

stdx::u16string WithoutTrailingSlash(const stdx::u16string& path) {
    std::size_t end = path.size();
    while (end > 1 && path[end - 1] == u'/') {
        --end;
    }
    return end == path.size() ? path : path.substr(0, end);
}

stdx::u16string ParentOf(const stdx::u16string& path) {
    const stdx::u16string trimmed = WithoutTrailingSlash(path);
    const std::size_t slash = trimmed.rfind(u'/');
    if (slash == stdx::u16string::npos) {
        return trimmed;
    }
    return slash == 0 ? stdx::u16string(u"/") : trimmed.substr(0, slash);
}

stdx::u16string InstalledPath(const stdx::u16string& targetDir, const stdx::u16string& kitName) {
    stdx::u16string path(targetDir);
    path.reserve(targetDir.size() + kitName.size());
    for (char16_t unit : kitName) {
        path.push_back(unit == u'\\' ? u'/' : unit);
    }
    return path;
}

}  // namespace install_worker_detail

template class InstallWorker<FileSystem>;
