#include "launcher/LauncherConfig.h"

#include "launcher/ConfigReader.h"
#include "launcher/LauncherPaths.h"

namespace {

bool ReadQuietly(const stdx::u16string& path, ConfigList& list, std::string* bytes) {
    try {
        return ReadConfigFile(path, list, bytes);
    } catch (...) {
        // Out of memory on a huge file, say: the launcher's settings are
        // optional to the installer, so what was read so far must do.
        return false;
    }
}

}  // namespace

stdx::u16string LauncherConfig::UserPath() const {
    return m_alternate ? AlternateUserConfigPath() : UserConfigPath();
}

stdx::u16string LauncherConfig::CommonPath() const {
    return m_alternate ? UserConfigPath() : CommonConfigPath();
}

void LauncherConfig::Load() {
    ReadQuietly(CommonPath(), m_common, nullptr);
    m_userReadWhole = ReadQuietly(UserPath(), m_user, &m_userBytes);
}
