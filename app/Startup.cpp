#include "app/Startup.h"

#include <cstdlib>
#include <cstring>

#include "text/Encoding.h"
#include "text/LanguageTables.h"
#include "text/Languages.h"

namespace {

// Looks for the language and silent switches from index `first` on. Returns
// the language id of the first language switch (0 when its code names no
// language, or when there is none).
int ScanSwitches(const StartupArgs& args, int first, StartupChoice& choice) {
    for (int i = first; i < args.argc; ++i) {
        const char* arg = args.argv[i];
        // "--" starts a long option, whatever follows.
        if (arg == nullptr || (arg[0] != '-' && arg[0] != '/') || std::strncmp(arg, "--", 2) == 0) {
            continue;
        }
        // arg[1] is at worst the terminator, which matches neither letter.
        const char kind = arg[1];
        if (kind == 'S' || kind == 's') {
            choice.silent = true;
        } else if (kind == 'L' || kind == 'l') {
            const stdx::string code(arg + 2);
            const int id = LanguageIdFromCode(code);
            if (id != 0) {
                choice.languageCode = Utf8ToUtf16(code);
            }
            return id;
        }
    }
    return 0;
}

// Child processes and libraries that read the locale from the environment
// should see the user's locale when the session does not name one. An empty
// identifier names nothing, so ".UTF-8" alone is never set.
void SetLangWhenEmpty(const stdx::string& localeIdentifier) {
    const char* lang = std::getenv("LANG");
    if ((lang == nullptr || lang[0] == '\0') && !localeIdentifier.empty()) {
        const stdx::string value = localeIdentifier + ".UTF-8";
        setenv("LANG", value.c_str(), 1);
    }
}

int ChooseFromLocale(const stdx::string& localeIdentifier, StartupChoice& choice) {
    SetLangWhenEmpty(localeIdentifier);
    const stdx::string code =
        localeIdentifier.size() >= 3 ? localeIdentifier.substr(0, 2) : localeIdentifier;
    const int id = LanguageIdFromCode(code);
    if (id != 0) {
        choice.languageCode = Utf8ToUtf16(code);
    }
    return id;
}

}  // namespace

StartupChoice ChooseStartup(StartupArgs& args, const stdx::string& localeIdentifier) {
    StartupChoice choice{false, false, stdx::u16string(u"en"), AdminOptions()};
    args.languageId = 0;

    if (args.argv != nullptr) {
        const int first = FirstOptionIndex(args.argc, args.argv);
        choice.useCurrentDir = first == 2;
        args.languageId = ScanSwitches(args, first, choice);
        choice.options = ParseAdminOptions(args.argc, args.argv, first);
        choice.silent = choice.silent || choice.options.quiet;
    }
    if (args.languageId == 0) {
        args.languageId = ChooseFromLocale(localeIdentifier, choice);
    }
    if (args.languageId == 0) {
        // languageCode is still "en": it only changes with a matched code.
        args.languageId = lang::kEnglishLanguageId;
    }

    SetLanguage(args.languageId);
    args.title = LocalizedString("IDR_MAINFRAME");
    return choice;
}
