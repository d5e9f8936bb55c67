#include "launcher/TemplateLocations.h"

#include <set>

#include "launcher/LauncherPaths.h"
#include "text/StringUtils.h"

namespace {

struct NoCaseLess {
    bool operator()(const stdx::u16string& a, const stdx::u16string& b) const {
        return CompareNoCase(a, b) < 0;
    }
};

bool IsSeparator(char16_t unit) {
    return unit == u'/' || unit == u'\\';
}

void AppendNew(std::vector<stdx::u16string>& locations,
               const std::vector<stdx::u16string>* values) {
    if (values == nullptr) {
        return;
    }
    for (const stdx::u16string& value : *values) {
        bool known = false;
        for (const stdx::u16string& location : locations) {
            known = known || CompareNoCase(location, value) == 0;
        }
        if (!known) {
            locations.push_back(value);
        }
    }
}

stdx::u16string WithoutTrailingSlashes(const stdx::u16string& path) {
    std::size_t end = path.size();
    while (end > 1 && path[end - 1] == u'/') {
        --end;
    }
    return path.substr(0, end);
}

}  // namespace

void LoadTemplateLocations(std::vector<stdx::u16string>& locations, bool alternate) {
    LauncherConfig config(alternate);
    config.Load();
    locations.clear();
    AppendNew(locations, FindValues(config.m_user, kTemplatesLocationKey));
    AppendNew(locations, FindValues(config.m_common, kTemplatesLocationKey));
    for (stdx::u16string& location : locations) {
        ReplaceAll(location, kAltPathSeparator, kPathSeparator);
    }
    RemoveDuplicateLocations(locations);
}

void RemoveDuplicateLocations(std::vector<stdx::u16string>& locations) {
    std::set<stdx::u16string, NoCaseLess> seen;
    std::vector<stdx::u16string> kept;
    kept.reserve(locations.size());
    for (const stdx::u16string& location : locations) {
        stdx::u16string key = location;
        if (!key.empty() && !IsSeparator(key.back())) {
            key += kPathSeparator;
        }
        if (seen.insert(key).second) {
            kept.push_back(location);
        }
    }
    locations.swap(kept);
}

stdx::u16string ParentOfPath(const stdx::u16string& path) {
    std::size_t separator = path.find_last_of(kPathSeparators);
    if (separator == stdx::u16string::npos) {
        return stdx::u16string();
    }
    return path.substr(0, separator);
}

bool IsSameDirectory(const stdx::u16string& a, const stdx::u16string& b) {
    return WithoutTrailingSlashes(a) == WithoutTrailingSlashes(b);
}

void SaveTemplateLocations(const std::vector<stdx::u16string>& locations, bool alternate) {
    FileSystem fs;
    ConfigFileIo io;
    SaveTemplateLocations(locations, alternate, fs, io);
}

bool IsDirectoryWritable(const stdx::u16string& directory) {
    FileSystem fs;
    return IsDirectoryWritable(directory, fs);
}

std::vector<stdx::u16string> KnownTemplateLocations(const stdx::u16string& extra) {
    std::vector<stdx::u16string> known;
    std::vector<stdx::u16string> listed;
    for (const bool alternate : {false, true}) {
        LoadTemplateLocations(listed, alternate);
        known.insert(known.end(), listed.begin(), listed.end());
    }
    known.push_back(DefaultTemplateDirectory() + u"tmplts");
    if (!extra.empty()) {
        known.push_back(extra);
    }
    std::vector<stdx::u16string> absolute;
    for (const stdx::u16string& location : known) {
        if (!location.empty() && location[0] == u'/') {
            absolute.push_back(location);
        }
    }
    RemoveDuplicateLocations(absolute);
    return absolute;
}
