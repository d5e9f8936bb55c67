#include "text/LanguageTables.h"

#include <iterator>

// The texts themselves live one language per file under tables/, so that a
// translator reviews or extends a single file of (key, text) pairs.
namespace lang {
namespace {

constexpr TextPair kArmenian[] = {
#include "text/tables/hy.inc"
};
constexpr TextPair kAzerbaijani[] = {
#include "text/tables/az.inc"
};
constexpr TextPair kBulgarian[] = {
#include "text/tables/bg.inc"
};
constexpr TextPair kChinese[] = {
#include "text/tables/zh.inc"
};
constexpr TextPair kEnglish[] = {
#include "text/tables/en.inc"
};
constexpr TextPair kFrench[] = {
#include "text/tables/fr.inc"
};
constexpr TextPair kGeorgian[] = {
#include "text/tables/ka.inc"
};
constexpr TextPair kGerman[] = {
#include "text/tables/de.inc"
};
constexpr TextPair kSpanish[] = {
#include "text/tables/es.inc"
};
constexpr TextPair kHungarian[] = {
#include "text/tables/hu.inc"
};
constexpr TextPair kItalian[] = {
#include "text/tables/it.inc"
};
constexpr TextPair kKazakh[] = {
#include "text/tables/kk.inc"
};
constexpr TextPair kLatvian[] = {
#include "text/tables/lv.inc"
};
constexpr TextPair kLithuanian[] = {
#include "text/tables/lt.inc"
};
constexpr TextPair kPolish[] = {
#include "text/tables/pl.inc"
};
constexpr TextPair kRomanian[] = {
#include "text/tables/ro.inc"
};
constexpr TextPair kRussian[] = {
#include "text/tables/ru.inc"
};
constexpr TextPair kTurkish[] = {
#include "text/tables/tr.inc"
};
constexpr TextPair kUkrainian[] = {
#include "text/tables/uk.inc"
};
constexpr TextPair kVietnamese[] = {
#include "text/tables/vi.inc"
};
constexpr TextPair kTurkmen[] = {
#include "text/tables/tk.inc"
};

// Languages without a table of their own read the English texts.
constexpr const TextPair* kDefault = kEnglish;

// A table file with a missing or an extra line fails the build here.
static_assert(std::size(kArmenian) == kTextCount);
static_assert(std::size(kAzerbaijani) == kTextCount);
static_assert(std::size(kBulgarian) == kTextCount);
static_assert(std::size(kChinese) == kTextCount);
static_assert(std::size(kEnglish) == kTextCount);
static_assert(std::size(kFrench) == kTextCount);
static_assert(std::size(kGeorgian) == kTextCount);
static_assert(std::size(kGerman) == kTextCount);
static_assert(std::size(kSpanish) == kTextCount);
static_assert(std::size(kHungarian) == kTextCount);
static_assert(std::size(kItalian) == kTextCount);
static_assert(std::size(kKazakh) == kTextCount);
static_assert(std::size(kLatvian) == kTextCount);
static_assert(std::size(kLithuanian) == kTextCount);
static_assert(std::size(kPolish) == kTextCount);
static_assert(std::size(kRomanian) == kTextCount);
static_assert(std::size(kRussian) == kTextCount);
static_assert(std::size(kTurkish) == kTextCount);
static_assert(std::size(kUkrainian) == kTextCount);
static_assert(std::size(kVietnamese) == kTextCount);
static_assert(std::size(kTurkmen) == kTextCount);

}  // namespace

constexpr TextTable kTextTables[kTextTableCount] = {
    {"default", kDefault}, {"az", kAzerbaijani}, {"bg", kBulgarian}, {"de", kGerman},
    {"en", kEnglish},      {"es", kSpanish},     {"fr", kFrench},    {"hu", kHungarian},
    {"hy", kArmenian},     {"it", kItalian},     {"ka", kGeorgian},  {"kk", kKazakh},
    {"lt", kLithuanian},   {"lv", kLatvian},     {"pl", kPolish},    {"ro", kRomanian},
    {"ru", kRussian},      {"tk", kTurkmen},     {"tr", kTurkish},   {"uk", kUkrainian},
    {"vi", kVietnamese},   {"zh", kChinese},
};

// "es" stands twice; lookups by code find the lower id. "ar" has no texts of
// its own and reads the default table.
constexpr LanguageRow kLanguageRows[kLanguageRowCount] = {
    {1, "hy", kArmenian},    {2, "az", kAzerbaijani}, {3, "bg", kBulgarian}, {4, "zh", kChinese},
    {5, "en", kEnglish},     {6, "fr", kFrench},      {7, "ka", kGeorgian},  {8, "de", kGerman},
    {9, "es", kSpanish},     {10, "hu", kHungarian},  {11, "it", kItalian},  {12, "kk", kKazakh},
    {13, "lv", kLatvian},    {14, "lt", kLithuanian}, {15, "pl", kPolish},   {16, "ro", kRomanian},
    {17, "ru", kRussian},    {18, "es", kSpanish},    {19, "tr", kTurkish},  {20, "uk", kUkrainian},
    {21, "vi", kVietnamese}, {22, "ar", kDefault},    {23, "tk", kTurkmen},
};

}  // namespace lang
