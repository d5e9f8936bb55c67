// qa_font_coverage_check LANG: builds the wizard of language LANG with the
// real window layer and checks, with the toolkit's own glyph lookup, that
// every control draws its text with a face that has a glyph for each
// character, and that the faces of the message boxes have one for each
// character of every text of the language. Prints each missing glyph and
// exits with 1 when there is any, 2 when it cannot run, 0 otherwise.
// GNUstep on X11 only; the GUI tests run it under Xvfb.
#import <AppKit/AppKit.h>

#include <cstdio>
#include <memory>
#include <string>

#include "text/Encoding.h"
#include "text/LanguageTables.h"
#include "text/Languages.h"
#include "ui/CocoaStrings.h"
#include "ui/CocoaWindowLayer.h"

namespace {

const char* g_language = "";

// The number of characters of `text` that `font` has no glyph for, all
// reported in one line with the face and the text.
int CountMissing(NSString* text, NSFont* font, const char* where) {
    if (font == nil) {
        std::fprintf(stderr, "%s: %s has no font\n", g_language, where);
        return 1;
    }
    NSCharacterSet* covered = [font coveredCharacterSet];
    std::string lacking;
    int missing = 0;
    const NSUInteger length = [text length];
    for (NSUInteger i = 0; i < length; ++i) {
        UTF32Char c = [text characterAtIndex:i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < length) {
            c = 0x10000 + ((c - 0xD800) << 10) + ([text characterAtIndex:++i] - 0xDC00);
        }
        if (c < 0x20 || [covered longCharacterIsMember:c]) {
            continue;
        }
        char code[16];
        std::snprintf(code, sizeof code, " U+%04X", static_cast<unsigned>(c));
        lacking += code;
        ++missing;
    }
    if (missing > 0) {
        std::fprintf(stderr, "%s: %s lacks%s of \"%s\" (%s)\n", g_language,
                     [[font fontName] UTF8String], lacking.c_str(), [text UTF8String], where);
    }
    return missing;
}

// Every control below `view`, with the text it draws.
int CheckControls(NSView* view) {
    int missing = 0;
    if ([view isKindOfClass:[NSControl class]]) {
        NSControl* control = (NSControl*)view;
        NSString* text = [control isKindOfClass:[NSButton class]] ? [(NSButton*)control title]
                                                                  : [control stringValue];
        missing += CountMissing(text, [control font], [[[control class] description] UTF8String]);
    }
    NSArray* subviews = [view subviews];
    for (NSUInteger i = 0; i < [subviews count]; ++i) {
        missing += CheckControls([subviews objectAtIndex:i]);
    }
    return missing;
}

// The faces an alert draws with, against every text one may show: any text
// of the table, and the fixed captions of its buttons.
int CheckMessageBoxFaces(int languageId) {
    const lang::LanguageRow* row = nullptr;
    for (const lang::LanguageRow& candidate : lang::kLanguageRows) {
        if (candidate.id == languageId) {
            row = &candidate;
        }
    }
    if (row == nullptr) {
        return 1;
    }
    const struct {
        NSFont* font;
        const char* role;
    } faces[] = {
        {[NSFont messageFontOfSize:0], "message font"},
        {[NSFont systemFontOfSize:0], "system font"},
        {[NSFont boldSystemFontOfSize:0], "bold system font"},
        {[NSFont labelFontOfSize:0], "label font"},
    };
    int missing = 0;
    for (const auto& face : faces) {
        missing += CountMissing(@"Yes No OK", face.font, face.role);
        for (std::size_t i = 0; i < lang::kTextCount; ++i) {
            missing += CountMissing(ToNSString(stdx::string(row->texts[i].text)), face.font,
                                    row->texts[i].key);
        }
    }
    return missing;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || LanguageIdFromCode(argv[1]) == 0) {
        std::fprintf(stderr, "usage: qa_font_coverage_check LANGUAGE_CODE\n");
        return 2;
    }
    g_language = argv[1];
    const int languageId = LanguageIdFromCode(argv[1]);
    SetLanguage(languageId);
    std::unique_ptr<WindowLayer> layer = CreateCocoaWindowLayer();
    if (!layer) {
        std::fprintf(stderr, "qa_font_coverage_check: no display\n");
        return 2;
    }
    // Every page the wizard can show, as the controller makes them.
    layer->CreateWizardWindow(Utf16ToUtf8(LocalizedString("IDR_MAINFRAME")), 500, 360);
    layer->CreateMessagePage(LocalizedString("IDS_WELCOME_TITLE"));
    layer->CreateDirSelectPage();
    layer->CreateProgressPage(480);
    layer->CreateSuccessPage(LocalizedString("IDS_SUCCESS_FINISH"));

    NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];
    int missing = 0;
    NSArray* windows = [NSApp windows];
    for (NSUInteger i = 0; i < [windows count]; ++i) {
        missing += CheckControls([[windows objectAtIndex:i] contentView]);
    }
    missing += CheckMessageBoxFaces(languageId);
    [pool release];
    layer->CloseWindow();
    return missing == 0 ? 0 : 1;
}
