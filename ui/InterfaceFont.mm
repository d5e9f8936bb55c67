#include "ui/InterfaceFont.h"

#import <Foundation/Foundation.h>

#if defined(GNUSTEP)
#include <string>
#include <vector>

#include "text/InterfaceCharacters.h"
#include "text/LanguageTables.h"
#include "ui/FontLookup.h"

namespace {

// The language fontconfig should favour: the row's code, except for rows
// that read the English table (the default one included).
std::string FontLanguage(int languageId) {
    const lang::LanguageRow* english = nullptr;
    const lang::LanguageRow* row = nullptr;
    for (const lang::LanguageRow& candidate : lang::kLanguageRows) {
        if (candidate.id == lang::kEnglishLanguageId) {
            english = &candidate;
        }
        if (candidate.id == languageId) {
            row = &candidate;
        }
    }
    if (row == nullptr || (english != nullptr && row->texts == english->texts)) {
        return "en";
    }
    return row->code;
}

NSString* NameOf(const FontFace& face) {
    return [NSString stringWithUTF8String:face.postScriptName.c_str()];
}

}  // namespace
#endif

void UseInterfaceFontFor(int languageId) {
#if defined(GNUSTEP)
    NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];
    const std::vector<char32_t> characters = InterfaceCharacters(languageId);
    const std::string language = ":lang=" + FontLanguage(languageId);
    const FontFace regular = FindFontCovering(("sans-serif" + language).c_str(), characters);
    FontFace bold = FindFontCovering(("sans-serif:bold" + language).c_str(), characters);
    // A regular face with every glyph reads better than a bold one with
    // question marks.
    if (bold.postScriptName.empty() || bold.missing > regular.missing) {
        bold = regular;
    }
    if (!regular.postScriptName.empty()) {
        // The argument domain stands above the user's own settings, whose
        // face may lack the glyphs; it lives only as long as the process.
        NSUserDefaults* defaults = [NSUserDefaults standardUserDefaults];
        NSMutableDictionary* arguments = [NSMutableDictionary dictionary];
        NSDictionary* given = [defaults volatileDomainForName:NSArgumentDomain];
        if (given != nil) {
            [arguments addEntriesFromDictionary:given];
        }
        [arguments setObject:NameOf(regular) forKey:@"NSFont"];
        [arguments setObject:NameOf(bold) forKey:@"NSBoldFont"];
        [defaults removeVolatileDomainForName:NSArgumentDomain];
        [defaults setVolatileDomain:arguments forName:NSArgumentDomain];
    }
    [pool release];
#else
    (void)languageId;
#endif
}
