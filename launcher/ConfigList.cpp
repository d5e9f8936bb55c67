#include "launcher/ConfigList.h"

#include <algorithm>

#include "text/StringUtils.h"

namespace {

bool SameText(const stdx::u16string& a, const stdx::u16string& b) {
    return CompareNoCase(a, b) == 0;
}

bool HoldsValue(const ConfigEntry& entry, const stdx::u16string& value) {
    return std::any_of(entry.m_values.begin(), entry.m_values.end(),
                       [&](const stdx::u16string& held) { return SameText(held, value); });
}

}  // namespace

bool AddValue(ConfigList& list, const stdx::u16string& key, const stdx::u16string& value) {
    ConfigEntry* last = nullptr;
    for (ConfigEntry& entry : list) {
        if (!SameText(entry.m_key, key)) {
            continue;
        }
        if (HoldsValue(entry, value)) {
            return false;
        }
        last = &entry;
    }
    if (last != nullptr) {
        last->m_values.push_back(value);
    } else {
        list.push_back(ConfigEntry{key, {value}});
    }
    return true;
}

void SetValues(ConfigList& list, const stdx::u16string& key,
               const std::vector<stdx::u16string>& values) {
    auto found = std::find_if(list.begin(), list.end(),
                              [&](const ConfigEntry& entry) { return SameText(entry.m_key, key); });
    if (found == list.end()) {
        // An entry without values would write no line, so none is made.
        if (!values.empty()) {
            list.push_back(ConfigEntry{key, values});
        }
    } else if (values.empty()) {
        list.erase(found);
    } else {
        found->m_values = values;
    }
}

const std::vector<stdx::u16string>* FindValues(const ConfigList& list, const stdx::u16string& key) {
    for (const ConfigEntry& entry : list) {
        if (SameText(entry.m_key, key)) {
            return &entry.m_values;
        }
    }
    return nullptr;
}
