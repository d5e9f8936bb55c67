#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "text/String.h"

// Which records of a kit may name the same file as an earlier one, on any
// file system the template directory may lie on: the same name twice, or
// names that differ only in the case of ASCII letters (a case-insensitive
// file system takes "A.cfg" and "a.cfg" for one file).
//
// That is exact only for plain names: printable ASCII without "~" (a short
// name on FAT-like systems) and no level ending in "." or " " (which some
// systems drop). Any other character may fold or normalise into a name of
// its own, so a kit with one such name is unsure: every record may then
// name the file of any other.
//
// The install worker uses this to leave out, for a record that can meet no
// earlier one, the look at its name in a directory the run itself made,
// and the note of what it wrote for a record no later one can meet; and to
// write records that may meet each other on one thread, in kit order.
class NameAliases {
public:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    // Looks at `names` (kit names, "\" or "/" between levels), in kit order.
    void Find(const std::vector<const stdx::u16string*>& names);

    // Whether some name is not plain.
    bool Unsure() const { return m_unsure; }
    // The nearest earlier record that may name the same file as `index`, or
    // kNone. Always kNone when Unsure().
    std::size_t Earlier(std::size_t index) const {
        return m_unsure || m_earlier[index] == 0 ? kNone : m_earlier[index] - 1;
    }
    // Whether a later record may name the same file as `index`. Always true
    // when Unsure().
    bool HasLater(std::size_t index) const { return m_unsure || m_later[index]; }

private:
    bool m_unsure = false;
    // One more than the index of the nearest earlier alias; 0 for none.
    std::vector<std::uint32_t> m_earlier;
    std::vector<bool> m_later;
};
