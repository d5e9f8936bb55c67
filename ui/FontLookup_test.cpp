#include "ui/FontLookup.h"

#include <gtest/gtest.h>

#include <fontconfig/fontconfig.h>

#include <string>

#include "text/InterfaceCharacters.h"
#include "text/LanguageTables.h"

namespace {

// The characters of `characters` that the face named `postScriptName`
// lacks, looked up by that name in fontconfig's list of all faces.
std::u32string MissingFrom(const std::string& postScriptName,
                           const std::vector<char32_t>& characters) {
    FcPattern* byName = FcPatternCreate();
    FcPatternAddString(byName, FC_POSTSCRIPT_NAME,
                       reinterpret_cast<const FcChar8*>(postScriptName.c_str()));
    FcObjectSet* objects = FcObjectSetBuild(FC_CHARSET, nullptr);
    FcFontSet* faces = FcFontList(nullptr, byName, objects);
    std::u32string missing(characters.begin(), characters.end());
    if (faces != nullptr && faces->nfont > 0) {
        FcCharSet* has = nullptr;
        if (FcPatternGetCharSet(faces->fonts[0], FC_CHARSET, 0, &has) == FcResultMatch) {
            missing.clear();
            for (char32_t c : characters) {
                if (FcCharSetHasChar(has, c) == FcFalse) {
                    missing += c;
                }
            }
        }
    }
    if (faces != nullptr) {
        FcFontSetDestroy(faces);
    }
    FcObjectSetDestroy(objects);
    FcPatternDestroy(byName);
    return missing;
}

std::string PreferredFace(const char* pattern) {
    FcPattern* request = FcNameParse(reinterpret_cast<const FcChar8*>(pattern));
    FcConfigSubstitute(nullptr, request, FcMatchPattern);
    FcDefaultSubstitute(request);
    FcResult result;
    FcPattern* match = FcFontMatch(nullptr, request, &result);
    std::string name;
    FcChar8* value = nullptr;
    if (match != nullptr &&
        FcPatternGetString(match, FC_POSTSCRIPT_NAME, 0, &value) == FcResultMatch) {
        name = reinterpret_cast<const char*>(value);
    }
    if (match != nullptr) {
        FcPatternDestroy(match);
    }
    FcPatternDestroy(request);
    return name;
}

// Every language's texts have a face on this machine (scripts/deps installs
// the fonts for them), and the face found by name really has the glyphs.
TEST(FontLookup, EveryLanguageFindsAFaceWithAllItsCharacters) {
    for (const lang::LanguageRow& row : lang::kLanguageRows) {
        SCOPED_TRACE(row.code);
        const std::vector<char32_t> characters = InterfaceCharacters(row.id);
        const std::string pattern = std::string("sans-serif:lang=") + row.code;
        const FontFace face = FindFontCovering(pattern.c_str(), characters);
        ASSERT_FALSE(face.postScriptName.empty());
        EXPECT_EQ(face.missing, 0u);
        EXPECT_EQ(MissingFrom(face.postScriptName, characters), U"") << face.postScriptName;
    }
}

TEST(FontLookup, CharactersThePreferredFaceHasKeepIt) {
    const std::vector<char32_t> ascii = InterfaceCharacters(0);
    for (const char* pattern : {"sans-serif", "sans-serif:bold", "serif"}) {
        const FontFace face = FindFontCovering(pattern, ascii);
        EXPECT_EQ(face.postScriptName, PreferredFace(pattern)) << pattern;
        EXPECT_EQ(face.missing, 0u) << pattern;
    }
}

TEST(FontLookup, CharactersNoFaceHasGiveTheNearestFace) {
    // Plane 16 is private use: no shipped face has a glyph there.
    std::vector<char32_t> characters = InterfaceCharacters(0);
    characters.push_back(U'\U0010FFFD');
    characters.push_back(U'\u6B22');
    const FontFace face = FindFontCovering("sans-serif", characters);
    ASSERT_FALSE(face.postScriptName.empty());
    EXPECT_EQ(face.missing, 1u);
    EXPECT_EQ(MissingFrom(face.postScriptName, characters), U"\U0010FFFD");
}

TEST(FontLookup, PatternThatDoesNotParseFindsNothing) {
    for (const char* pattern : {static_cast<const char*>(nullptr), ":weight=heavyish"}) {
        const FontFace face = FindFontCovering(pattern, InterfaceCharacters(0));
        EXPECT_TRUE(face.postScriptName.empty());
    }
}

}  // namespace
