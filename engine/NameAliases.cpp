#include "engine/NameAliases.h"

#include <algorithm>
#include <utility>

namespace {

// A hash of the name as every file system compares it, or false when the
// name is not plain. Two names that meet always have the same hash; two
// that do not may share one too, rarely, and are then taken for aliases,
// which only costs them being written one after the other.
bool FoldedHash(const stdx::u16string& name, std::uint64_t* hash) {
    std::uint64_t h = 14695981039346656037u;
    for (std::size_t i = 0; i < name.size(); ++i) {
        char16_t unit = name[i];
        if (unit == u'\\') {
            unit = u'/';
        }
        if (unit < 0x20 || unit > 0x7E || unit == u'~') {
            return false;
        }
        const bool levelEnds = i + 1 == name.size() || name[i + 1] == u'/' || name[i + 1] == u'\\';
        if (levelEnds && (unit == u'.' || unit == u' ')) {
            return false;
        }
        if (unit >= u'A' && unit <= u'Z') {
            unit = static_cast<char16_t>(unit - u'A' + u'a');
        }
        h = (h ^ static_cast<std::uint64_t>(unit)) * 1099511628211u;
    }
    *hash = h;
    return true;
}

}  // namespace

void NameAliases::Find(const std::vector<const stdx::u16string*>& names) {
    m_unsure = false;
    m_earlier.clear();
    m_later.clear();
    // Sorted by hash and then by position, each record follows its nearest
    // earlier alias.
    std::vector<std::pair<std::uint64_t, std::uint32_t>> keys;
    keys.reserve(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::uint64_t hash = 0;
        if (!FoldedHash(*names[i], &hash)) {
            m_unsure = true;
            return;
        }
        keys.emplace_back(hash, static_cast<std::uint32_t>(i));
    }
    std::sort(keys.begin(), keys.end());
    m_earlier.assign(names.size(), 0);
    m_later.assign(names.size(), false);
    for (std::size_t k = 1; k < keys.size(); ++k) {
        if (keys[k].first == keys[k - 1].first) {
            m_earlier[keys[k].second] = keys[k - 1].second + 1;
            m_later[keys[k - 1].second] = true;
        }
    }
}
