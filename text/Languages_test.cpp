#include "text/Languages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "text/Encoding.h"
#include "text/LanguageTables.h"

namespace {

// Taken during static initialisation: the texts must already be there, and
// the language must be English without any call to SetLanguage.
const stdx::u16string kNextCaptionBeforeMain = LocalizedString("IDS_WIZARD_NEXT");
const int kLanguageBeforeMain = CurrentLanguage();

// Restores the initial language after each test that changes it.
class LanguagesTest : public ::testing::Test {
protected:
    void TearDown() override { SetLanguage(lang::kEnglishLanguageId); }
};

const lang::TextPair* Table(const std::string& name) {
    for (const lang::TextTable& table : lang::kTextTables) {
        if (name == table.name) {
            return table.texts;
        }
    }
    return nullptr;
}

const char* TextOf(const lang::TextPair* texts, const char* key) {
    for (std::size_t i = 0; i < lang::kTextCount; ++i) {
        if (std::strcmp(texts[i].key, key) == 0) {
            return texts[i].text;
        }
    }
    return nullptr;
}

stdx::u16string U16(const char* utf8) {
    return Utf8ToUtf16(stdx::string(utf8));
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(const char* text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != 0) {
        unsigned char lead = *p++;
        if (lead < 0x80) {
            continue;
        }
        int extra;
        char32_t cp;
        char32_t min;
        if ((lead & 0xE0) == 0xC0) {
            extra = 1, cp = lead & 0x1F, min = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2, cp = lead & 0x0F, min = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3, cp = lead & 0x07, min = 0x10000;
        } else {
            return false;
        }
        for (int i = 0; i < extra; ++i, ++p) {
            if ((*p & 0xC0) != 0x80) {
                return false;
            }
            cp = (cp << 6) | (*p & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
    }
    return true;
}

TEST(LanguageTableData, ValidatorRejectsBrokenUtf8) {
    EXPECT_TRUE(IsValidUtf8("Zurück \xE2\x82\xAC \xF0\x9F\x98\x80"));
    EXPECT_FALSE(IsValidUtf8("\xC3"));              // cut off
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong '/'
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\x80"));
}

TEST(LanguageTableData, EveryTableHasTheEnglishKeysInOrderWithValidTexts) {
    const lang::TextPair* english = Table("en");
    ASSERT_NE(english, nullptr);
    std::set<std::string> keys;
    for (std::size_t i = 0; i < lang::kTextCount; ++i) {
        keys.insert(english[i].key);
    }
    EXPECT_EQ(keys.size(), lang::kTextCount) << "English keys must be unique";

    std::set<std::string> names;
    for (const lang::TextTable& table : lang::kTextTables) {
        SCOPED_TRACE(table.name);
        names.insert(table.name);
        for (std::size_t i = 0; i < lang::kTextCount; ++i) {
            ASSERT_NE(table.texts[i].key, nullptr);
            ASSERT_NE(table.texts[i].text, nullptr);
            EXPECT_STREQ(table.texts[i].key, english[i].key);
            EXPECT_NE(table.texts[i].text[0], '\0') << table.texts[i].key;
            EXPECT_TRUE(IsValidUtf8(table.texts[i].text)) << table.texts[i].key;
        }
    }
    const std::set<std::string> expected = {"default", "az", "bg", "de", "en", "es", "fr", "hu",
                                            "hy",      "it", "ka", "kk", "lt", "lv", "pl", "ro",
                                            "ru",      "tk", "tr", "uk", "vi", "zh"};
    EXPECT_EQ(names, expected);
}

TEST(LanguageTableData, DefaultTableEqualsEnglish) {
    const lang::TextPair* english = Table("en");
    const lang::TextPair* fallback = Table("default");
    ASSERT_NE(fallback, nullptr);
    for (std::size_t i = 0; i < lang::kTextCount; ++i) {
        EXPECT_STREQ(fallback[i].text, english[i].text) << english[i].key;
    }
}

TEST(LanguageTableData, ButtonCaptionsPerTable) {
    struct Captions {
        const char *table, *back, *next, *finish, *cancel;
    };
    const Captions expected[] = {
        {"en", "< Back", "Next >", "Finish", "Cancel"},
        {"ru", "< Назад", "Далее >", "Готово", "Отмена"},
        // az and tk as their speakers write them: the imperative "Ləğv et"
        // ("Ləğv etmə" reads as "do not cancel"), and the Turkmen letters.
        {"az", "< Geri", "Növbəti >", "Hazır", "Ləğv et"},
        {"bg", "< Назад", "Напред >", "Готово", "Отказ"},
        {"de", "< Zurück", "Weiter >", "Fertig", "Abbrechen"},
        {"es", "< Atrás", "Seguir >", "Listo", "Cancelar"},
        {"fr", "< Retour", "Suivant >", "OK", "Annuler"},
        {"hu", "< Vissza", "Következő>", "Kész", "Mégsem"},
        {"hy", "< Հետ", "Հաջորդիվ >", "Պատրաստ է", "Չեղարկում"},
        {"it", "< Indietro", "Avanti>", "Pronto", "Annulla"},
        {"ka", "< უკან", "შემდეგ>", "მზადაა", "გაუქმება"},
        {"kk", "< Артқа", "Әрі қарай >", "Дайын", "Доғар"},
        {"lt", "< Atgal", "Toliau >", "Atlikta", "Atsisakyti"},
        {"lv", "< Atpakaļ", "Tālāk >", "Gatavs", "Atcelt"},
        {"pl", "< Wstecz", "Dalej >", "Gotowe", "Anuluj"},
        {"ro", "< Înapoi", "Înainte >", "Finalizare", "Revocare"},
        {"tk", "< Yza", "Öňe >", "Taýýar", "Ýatyr"},
        {"tr", "< Geri", "İleri >", "Tamam", "İptal"},
        {"uk", "< Попередня", "Наступна >", "ОК", "Відмінити"},
        {"vi", "< Quay lại", "Tiếp theo >", "Đồng ý", "Hủy bỏ"},
        {"zh", "<退回", "继续>", "完成", "取消"},
    };
    for (const Captions& c : expected) {
        SCOPED_TRACE(c.table);
        const lang::TextPair* texts = Table(c.table);
        ASSERT_NE(texts, nullptr);
        EXPECT_STREQ(TextOf(texts, "IDS_WIZARD_BACK"), c.back);
        EXPECT_STREQ(TextOf(texts, "IDS_WIZARD_NEXT"), c.next);
        EXPECT_STREQ(TextOf(texts, "IDS_WIZARD_FINISH"), c.finish);
        EXPECT_STREQ(TextOf(texts, "IDS_WIZARD_CANCEL"), c.cancel);
    }
}

TEST(LanguageTableData, TranslationsLeaveNoEnglishTextInPlace) {
    const lang::TextPair* english = Table("en");
    for (const lang::TextTable& table : lang::kTextTables) {
        if (std::strcmp(table.name, "en") == 0 || std::strcmp(table.name, "default") == 0) {
            continue;
        }
        SCOPED_TRACE(table.name);
        // Keys 1 to 4 are the button captions, checked word for word above.
        for (std::size_t i = 4; i < lang::kTextCount; ++i) {
            EXPECT_STRNE(table.texts[i].text, english[i].text) << english[i].key;
        }
    }
}

// French sets a space before ":", "?", "!" and ";"; a plain one lets a line
// break leave the mark alone at the start of the next line.
TEST(LanguageTableData, FrenchMarksKeepTheirNoBreakSpace) {
    const lang::TextPair* french = Table("fr");
    ASSERT_NE(french, nullptr);
    int spacedMarks = 0;
    for (std::size_t i = 0; i < lang::kTextCount; ++i) {
        const std::string text = french[i].text;
        for (const char* mark : {" :", " ?", " !", " ;"}) {
            EXPECT_EQ(text.find(mark), std::string::npos) << french[i].key << ": '" << mark << "'";
        }
        for (const char* spaced : {"\u00A0:", "\u202F?", "\u00A0?"}) {
            for (std::size_t at = text.find(spaced); at != std::string::npos;
                 at = text.find(spaced, at + 1)) {
                ++spacedMarks;
            }
        }
    }
    // The two questions, the three labels and the text before the path of
    // the kept files.
    EXPECT_EQ(spacedMarks, 6);
}

TEST(LanguageTableData, KitMessagesNameTheKitFile) {
    for (const lang::TextTable& table : lang::kTextTables) {
        SCOPED_TRACE(table.name);
        for (const char* key : {"IDS_ERROR_NOSOURCE", "IDS_ERROR_DAMAGEDSOURCE"}) {
            EXPECT_NE(std::strstr(TextOf(table.texts, key), "qarn.pkd"), nullptr) << key;
        }
    }
}

TEST(LanguageTableData, FolderLabelKeepsOneAccelerator) {
    for (const lang::TextTable& table : lang::kTextTables) {
        const std::string label = TextOf(table.texts, "IDS_CHOOSEDIR_FOLDER");
        EXPECT_EQ(label.find('&'), label.rfind('&')) << table.name;
        EXPECT_NE(label.find('&'), std::string::npos) << table.name;
        EXPECT_NE(label.find('&'), label.size() - 1) << table.name;
    }
}

TEST_F(LanguagesTest, TextsAreReadyBeforeMainInEnglish) {
    EXPECT_EQ(kLanguageBeforeMain, 5);
    EXPECT_TRUE(kNextCaptionBeforeMain == u"Next >");
}

TEST_F(LanguagesTest, EveryRowOfTheLanguageTable) {
    struct Row {
        int id;
        const char* code;
        const char* table;
    };
    const Row rows[] = {
        {1, "hy", "hy"},  {2, "az", "az"},       {3, "bg", "bg"},  {4, "zh", "zh"},
        {5, "en", "en"},  {6, "fr", "fr"},       {7, "ka", "ka"},  {8, "de", "de"},
        {9, "es", "es"},  {10, "hu", "hu"},      {11, "it", "it"}, {12, "kk", "kk"},
        {13, "lv", "lv"}, {14, "lt", "lt"},      {15, "pl", "pl"}, {16, "ro", "ro"},
        {17, "ru", "ru"}, {18, "es", "es"},      {19, "tr", "tr"}, {20, "uk", "uk"},
        {21, "vi", "vi"}, {22, "ar", "default"}, {23, "tk", "tk"},
    };
    ASSERT_EQ(std::size(rows), lang::kLanguageRowCount);
    for (std::size_t r = 0; r < lang::kLanguageRowCount; ++r) {
        const Row& row = rows[r];
        SCOPED_TRACE(row.id);
        EXPECT_EQ(lang::kLanguageRows[r].id, row.id);
        EXPECT_STREQ(lang::kLanguageRows[r].code, row.code);
        EXPECT_EQ(LanguageIdFromCode(row.code), row.id == 18 ? 9 : row.id);

        const lang::TextPair* texts = Table(row.table);
        ASSERT_NE(texts, nullptr);
        SetLanguage(row.id);
        EXPECT_EQ(CurrentLanguage(), row.id);
        for (std::size_t i = 0; i < lang::kTextCount; ++i) {
            EXPECT_TRUE(LocalizedString(texts[i].key) == U16(texts[i].text)) << texts[i].key;
        }
    }
}

TEST_F(LanguagesTest, CodeLookupIsExactAndFindsTheLowestId) {
    EXPECT_EQ(LanguageIdFromCode("es"), 9);
    EXPECT_EQ(LanguageIdFromCode("hu"), 10);
    EXPECT_EQ(LanguageIdFromCode("ar"), 22);
    EXPECT_EQ(LanguageIdFromCode("el"), 0);
    EXPECT_EQ(LanguageIdFromCode("EN"), 0);
    EXPECT_EQ(LanguageIdFromCode("En"), 0);
    EXPECT_EQ(LanguageIdFromCode(""), 0);
    EXPECT_EQ(LanguageIdFromCode("e"), 0);
    EXPECT_EQ(LanguageIdFromCode("eng"), 0);
    EXPECT_EQ(LanguageIdFromCode("ru_RU"), 0);
    EXPECT_EQ(LanguageIdFromCode(stdx::string("en\0", 3)), 0);
}

TEST_F(LanguagesTest, ChosenCodeSelectsItsTexts) {
    SetLanguage(LanguageIdFromCode("hu"));
    EXPECT_TRUE(LocalizedString("IDS_WIZARD_NEXT") == u"Következő>");
    EXPECT_TRUE(LocalizedString("IDS_DEFPRODUCT") == u"<Termék>");

    SetLanguage(LanguageIdFromCode("ar"));
    EXPECT_TRUE(LocalizedString("IDS_WIZARD_NEXT") == u"Next >");
    EXPECT_TRUE(LocalizedString("IDR_MAINFRAME") == u"Installing configuration");

    SetLanguage(LanguageIdFromCode("ru"));
    EXPECT_TRUE(LocalizedString("IDS_SUCCESS_FINISH") == u"Конфигурация успешно установлена.");
}

TEST_F(LanguagesTest, WindowTitleEqualsInstallerTitleInEveryLanguage) {
    for (const lang::LanguageRow& row : lang::kLanguageRows) {
        SetLanguage(row.id);
        const stdx::u16string title = LocalizedString("IDR_MAINFRAME");
        EXPECT_FALSE(title.empty()) << row.id;
        EXPECT_TRUE(title == LocalizedString("IDS_TITLE_INSTALLER")) << row.id;
    }
}

TEST_F(LanguagesTest, UnknownKeyOrLanguageGivesEmptyText) {
    EXPECT_TRUE(LocalizedString("IDS_NO_SUCH_KEY").empty());
    EXPECT_TRUE(LocalizedString("").empty());
    EXPECT_TRUE(LocalizedString(static_cast<const char*>(nullptr)).empty());
    EXPECT_TRUE(LocalizedString("ids_wizard_next").empty());
    EXPECT_TRUE(LocalizedString(stdx::string("IDS_WIZARD_NEXT\0X", 17)).empty());
    EXPECT_TRUE(LocalizedString(stdx::string("IDS_WIZARD_NEXT")) == u"Next >");

    for (int id : {0, -1, 24}) {
        SetLanguage(id);
        EXPECT_EQ(CurrentLanguage(), id);
        EXPECT_TRUE(LocalizedString("IDS_WIZARD_NEXT").empty()) << id;
    }
}

}  // namespace
