#include "ui/FontLookup.h"

#include <fontconfig/fontconfig.h>

#include <memory>

namespace {

// fontconfig's objects, released when the lookup ends.
struct PatternDeleter {
    void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
};
struct CharSetDeleter {
    void operator()(FcCharSet* set) const { FcCharSetDestroy(set); }
};
struct FontSetDeleter {
    void operator()(FcFontSet* set) const { FcFontSetDestroy(set); }
};

}  // namespace

FontFace FindFontCovering(const char* pattern, const std::vector<char32_t>& characters) {
    FontFace best;
    if (pattern == nullptr || FcInit() == FcFalse) {
        return best;
    }
    std::unique_ptr<FcPattern, PatternDeleter> request(
        FcNameParse(reinterpret_cast<const FcChar8*>(pattern)));
    if (!request) {
        return best;
    }
    // The same substitutions as any match, so that "sans-serif" becomes the
    // families this machine's configuration lists for it.
    FcConfigSubstitute(nullptr, request.get(), FcMatchPattern);
    FcDefaultSubstitute(request.get());

    std::unique_ptr<FcCharSet, CharSetDeleter> wanted(FcCharSetCreate());
    for (char32_t c : characters) {
        FcCharSetAddChar(wanted.get(), c);
    }
    const std::size_t wantedCount = FcCharSetCount(wanted.get());

    FcResult result = FcResultNoMatch;
    std::unique_ptr<FcFontSet, FontSetDeleter> sorted(
        FcFontSort(nullptr, request.get(), FcFalse, nullptr, &result));
    if (!sorted) {
        return best;
    }
    best.missing = wantedCount + 1;
    for (int i = 0; i < sorted->nfont && best.missing > 0; ++i) {
        FcPattern* font = sorted->fonts[i];
        FcChar8* name = nullptr;
        if (FcPatternGetString(font, FC_POSTSCRIPT_NAME, 0, &name) != FcResultMatch) {
            continue;  // a face the toolkit could not be given by name
        }
        FcCharSet* has = nullptr;
        const std::size_t missing = FcPatternGetCharSet(font, FC_CHARSET, 0, &has) == FcResultMatch
                                        ? FcCharSetSubtractCount(wanted.get(), has)
                                        : wantedCount;
        if (missing < best.missing) {
            best.postScriptName = reinterpret_cast<const char*>(name);
            best.missing = missing;
        }
    }
    if (best.postScriptName.empty()) {
        best.missing = wantedCount;
    }
    return best;
}
