#pragma once

#include "text/String.h"

// The user-interface language and the lookup of localized texts.
//
// The tables are constant data, complete before any static initialiser runs,
// so every function here may be called at any time, also before main and from
// any thread. The current language starts as English (id 5).

// The id of the first row, in ascending id order, whose code equals `code`
// exactly (same length, same bytes, case-sensitive). Returns 0 when no row
// holds the code: an upper-case code or a full locale identifier such as
// "ru_RU" matches nothing.
int LanguageIdFromCode(const stdx::string& code);

// Makes `id` the current language. No check is made that a row with this id
// exists; texts of an id without a row are empty.
void SetLanguage(int id);

// The current language id.
int CurrentLanguage();

// The text of `key` in the current language, as UTF-16. Returns an empty
// string when the current id has no row, the key is not in its table, or
// `key` is null.
stdx::u16string LocalizedString(const char* key);
stdx::u16string LocalizedString(const stdx::string& key);
