#include "engine/NameAliases.h"

#include <string>
#include <unordered_map>

namespace {

// The name as every file system compares it, or false when the name is not
// plain.
bool FoldedName(const stdx::u16string& name, std::string* folded) {
    folded->clear();
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
        folded->push_back(static_cast<char>(unit));
    }
    return true;
}

}  // namespace

void NameAliases::Find(const std::vector<const stdx::u16string*>& names) {
    m_unsure = false;
    m_earlier.assign(names.size(), 0);
    m_later.assign(names.size(), false);
    std::unordered_map<std::string, std::uint32_t> last;
    last.reserve(names.size());
    std::string folded;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!FoldedName(*names[i], &folded)) {
            m_unsure = true;
            m_earlier.clear();
            m_later.clear();
            return;
        }
        auto inserted = last.emplace(folded, static_cast<std::uint32_t>(i + 1));
        if (!inserted.second) {
            m_earlier[i] = inserted.first->second;
            m_later[inserted.first->second - 1] = true;
            inserted.first->second = static_cast<std::uint32_t>(i + 1);
        }
    }
}
