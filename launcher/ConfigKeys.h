#pragma once

#include <cstddef>

// The keys of the launcher configuration that this system knows, in the
// launcher's own order. Only kTemplatesLocationKey is read or written here;
// the others pass through a rewrite unchanged.
enum class ConfigKey : std::size_t {
    DefaultVersion,
    CommonInfoBases,
    InstalledLocation,
    DistributiveLocation,
    CommonCfgLocation,
    InstallComponents,
    ConfigurationTemplatesLocation,
};

constexpr const char16_t* kKnownConfigKeys[] = {
    u"DefaultVersion",
    u"CommonInfoBases",
    u"InstalledLocation",
    u"DistributiveLocation",
    u"CommonCfgLocation",
    u"InstallComponents",
    u"ConfigurationTemplatesLocation",
};

constexpr std::size_t kKnownConfigKeyCount = sizeof(kKnownConfigKeys) / sizeof(kKnownConfigKeys[0]);

constexpr const char16_t* ConfigKeyName(ConfigKey key) {
    return kKnownConfigKeys[static_cast<std::size_t>(key)];
}

// The key whose values are the template directories.
constexpr const char16_t* kTemplatesLocationKey =
    ConfigKeyName(ConfigKey::ConfigurationTemplatesLocation);
