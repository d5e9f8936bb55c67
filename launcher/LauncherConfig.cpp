#include "launcher/LauncherConfig.h"

#include "launcher/ConfigReader.h"
#include "launcher/LauncherPaths.h"

namespace {

void ReadQuietly(const stdx::u16string& path, ConfigList& list) {
    try {
        ReadConfigFile(path, list);
    } catch (...) {
        // Out of memory on a huge file, say: the launcher's settings are
        // optional to the installer, so what was read so far must do.
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
    ReadQuietly(CommonPath(), m_common);
    ReadQuietly(UserPath(), m_user);
}
