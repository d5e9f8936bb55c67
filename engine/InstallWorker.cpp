#include "engine/InstallWorker.h"

#include <random>

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

stdx::u16string RandomTag() {
    static const char16_t kDigits[] = u"0123456789abcdef";
    thread_local std::mt19937_64 engine{std::random_device{}()};
    std::uint64_t bits = engine();
    stdx::u16string tag;
    for (int i = 0; i < 16; ++i) {
        tag.push_back(kDigits[bits & 15u]);
        bits >>= 4;
    }
    return tag;
}

bool NameMeetsTag(const stdx::u16string& kitName, const stdx::u16string& tag) {
    // Every private name starts with ".qa-": most names have no such part,
    // and are passed without building the names.
    bool prefix = false;
    for (std::size_t i = 0; i + 3 < kitName.size() && !prefix; ++i) {
        prefix = kitName[i] == u'.' && (kitName[i + 1] | 0x20) == u'q' &&
                 (kitName[i + 2] | 0x20) == u'a' && kitName[i + 3] == u'-';
    }
    if (!prefix) {
        return false;
    }
    std::vector<stdx::u16string> privateNames{u".qa-" + tag + u".backup"};
    for (std::size_t writer = 0; writer < run_journal::kMaxWriters; ++writer) {
        privateNames.push_back(run_journal::TemporaryName(tag, writer));
    }
    auto lower = [](char16_t unit) {
        return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
    };
    auto equalNoCase = [&](std::size_t begin, std::size_t end, const stdx::u16string& name) {
        if (end - begin != name.size()) {
            return false;
        }
        for (std::size_t i = 0; i < name.size(); ++i) {
            if (lower(kitName[begin + i]) != name[i]) {
                return false;
            }
        }
        return true;
    };
    std::size_t begin = 0;
    for (std::size_t i = 0; i <= kitName.size(); ++i) {
        if (i < kitName.size() && kitName[i] != u'\\' && kitName[i] != u'/') {
            continue;
        }
        for (const stdx::u16string& name : privateNames) {
            if (equalNoCase(begin, i, name)) {
                return true;
            }
        }
        begin = i + 1;
    }
    return false;
}

}  // namespace install_worker_detail

template class InstallWorker<FileSystem>;
