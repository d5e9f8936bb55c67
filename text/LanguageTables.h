#pragma once

#include <cstddef>

// The built-in text tables and the language table, as constant data.
//
// Everything here is constant-initialised: it is complete before any dynamic
// initialiser of any translation unit runs, so code may look texts up from its
// own static initialisers. The data never changes; any thread may read it.
namespace lang {

// One localized text: a resource-style key and its UTF-8 text.
struct TextPair {
    const char* key;
    const char* text;
};

// Every text table holds exactly this many pairs, with the same keys in the
// same order as the English table.
inline constexpr std::size_t kTextCount = 34;

// A text table by name: a two-letter language code, or "default" for the
// table of languages that have none of their own (it equals "en").
struct TextTable {
    const char* name;
    const TextPair* texts;  // kTextCount pairs
};

inline constexpr std::size_t kTextTableCount = 22;
extern const TextTable kTextTables[kTextTableCount];

// A row of the language table. Ids are positive; 0 stands for no language.
struct LanguageRow {
    int id;
    const char* code;
    const TextPair* texts;  // kTextCount pairs
};

// The rows in ascending id order, 1 to 23.
inline constexpr std::size_t kLanguageRowCount = 23;
extern const LanguageRow kLanguageRows[kLanguageRowCount];

// The id of the English row, used whenever no other language is chosen.
inline constexpr int kEnglishLanguageId = 5;

}  // namespace lang
