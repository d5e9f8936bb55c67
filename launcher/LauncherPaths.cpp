#include "launcher/LauncherPaths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "text/Encoding.h"
#include "text/StringUtils.h"

namespace {

stdx::u16string PasswordHome() {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr) {
        return stdx::u16string();
    }
    return Utf8ToUtf16(stdx::string(found->pw_dir));
}

}  // namespace

stdx::u16string HomeDirectory() {
    // Read directly rather than through wordexp, which may run commands.
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') {
        return Utf8ToUtf16(stdx::string(home));
    }
    return PasswordHome();
}

stdx::u16string ProductHomeDirectory() {
    return HomeDirectory() + kPathSeparator + u".qarn" + kPathSeparator;
}

stdx::u16string LauncherDirectory() {
    return HomeDirectory() + kPathSeparator + u".Qa/qalaunch";
}

stdx::u16string UserConfigPath() {
    return LauncherDirectory() + kPathSeparator + u"qalaunch.cfg";
}

stdx::u16string AlternateLauncherDirectory() {
    return HomeDirectory() + kPathSeparator + u".Qa/qalauncht";
}

stdx::u16string AlternateUserConfigPath() {
    return AlternateLauncherDirectory() + kPathSeparator + u"qalaunch.cfg";
}

stdx::u16string CommonLauncherDirectory() {
    return ProductHomeDirectory() + kPathSeparator + u".Qa/qalaunch";
}

stdx::u16string CommonConfigPath() {
    return CommonLauncherDirectory() + kPathSeparator + u"qalaunch.cfg";
}

stdx::u16string DefaultTemplateDirectory() {
    return ProductHomeDirectory() + u"Qa" + kPathSeparator + u"qarn" + kPathSeparator;
}

bool ExpandTargetPath(const stdx::u16string& typed, stdx::u16string* absolute) {
    if (typed.empty()) {
        return false;
    }
    if (typed[0] == u'/') {
        *absolute = typed;
        return true;
    }
    if (typed[0] != u'~' || (typed.size() > 1 && typed[1] != u'/')) {
        return false;
    }
    const stdx::u16string home = HomeDirectory();
    if (home.empty() || home[0] != u'/') {
        return false;
    }
    *absolute = home + typed.substr(1);
    return true;
}
