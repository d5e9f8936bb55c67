#include "text/InterfaceCharacters.h"

#include <algorithm>

#include "text/LanguageTables.h"

namespace {

constexpr char32_t kFirstPrintableAscii = 0x20;
constexpr char32_t kLastPrintableAscii = 0x7E;

// C0, DEL and C1.
bool IsControl(char32_t cp) {
    return cp < kFirstPrintableAscii || (cp > kLastPrintableAscii && cp < 0xA0);
}

// Appends the code points of a UTF-8 text. The tables hold valid UTF-8 (the
// table tests check it), so a lead byte says how many bytes follow.
void AppendCodePoints(const char* text, std::vector<char32_t>& out) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != 0) {
        const unsigned char lead = *p++;
        int extra = 0;
        char32_t cp = lead;
        if ((lead & 0xE0) == 0xC0) {
            extra = 1, cp = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2, cp = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3, cp = lead & 0x07;
        }
        for (; extra > 0 && (*p & 0xC0) == 0x80; --extra, ++p) {
            cp = (cp << 6) | (*p & 0x3F);
        }
        if (!IsControl(cp)) {
            out.push_back(cp);
        }
    }
}

}  // namespace

std::vector<char32_t> InterfaceCharacters(int id) {
    std::vector<char32_t> characters;
    for (char32_t c = kFirstPrintableAscii; c <= kLastPrintableAscii; ++c) {
        characters.push_back(c);
    }
    for (const lang::LanguageRow& row : lang::kLanguageRows) {
        if (row.id != id) {
            continue;
        }
        for (std::size_t i = 0; i < lang::kTextCount; ++i) {
            AppendCodePoints(row.texts[i].text, characters);
        }
        break;
    }
    std::sort(characters.begin(), characters.end());
    characters.erase(std::unique(characters.begin(), characters.end()), characters.end());
    return characters;
}
