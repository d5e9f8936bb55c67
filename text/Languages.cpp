#include "text/Languages.h"

#include <atomic>
#include <cstring>

#include "text/Encoding.h"
#include "text/LanguageTables.h"

namespace {

// Constant-initialised, so it holds English before any static initialiser
// asks for a text. Start-up sets it before other threads exist; the atomic
// keeps later readers on the install thread well-defined all the same.
std::atomic<int> g_currentLanguage{lang::kEnglishLanguageId};

const lang::LanguageRow* FindRow(int id) {
    for (const lang::LanguageRow& row : lang::kLanguageRows) {
        if (row.id == id) {
            return &row;
        }
    }
    return nullptr;
}

const char* FindText(const lang::TextPair* texts, const char* key, std::size_t keyLength) {
    for (std::size_t i = 0; i < lang::kTextCount; ++i) {
        // Keys are compared with their length so that a key with an embedded
        // zero byte cannot match a shorter one.
        if (std::strlen(texts[i].key) == keyLength &&
            std::memcmp(texts[i].key, key, keyLength) == 0) {
            return texts[i].text;
        }
    }
    return nullptr;
}

stdx::u16string Lookup(const char* key, std::size_t keyLength) {
    const lang::LanguageRow* row = FindRow(g_currentLanguage.load(std::memory_order_relaxed));
    if (row == nullptr) {
        return stdx::u16string();
    }
    const char* text = FindText(row->texts, key, keyLength);
    if (text == nullptr) {
        return stdx::u16string();
    }
    return Utf8ToUtf16(stdx::string(text));
}

}  // namespace

int LanguageIdFromCode(const stdx::string& code) {
    for (const lang::LanguageRow& row : lang::kLanguageRows) {
        if (std::strlen(row.code) == code.size() &&
            std::memcmp(row.code, code.data(), code.size()) == 0) {
            return row.id;
        }
    }
    return 0;
}

void SetLanguage(int id) {
    g_currentLanguage.store(id, std::memory_order_relaxed);
}

int CurrentLanguage() {
    return g_currentLanguage.load(std::memory_order_relaxed);
}

stdx::u16string LocalizedString(const char* key) {
    if (key == nullptr) {
        return stdx::u16string();
    }
    return Lookup(key, std::strlen(key));
}

stdx::u16string LocalizedString(const stdx::string& key) {
    return Lookup(key.data(), key.size());
}
