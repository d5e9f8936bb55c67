#pragma once

#include "app/AdminOptions.h"
#include "text/String.h"

// The program's arguments as main received them, and what start-up makes of
// them. main fills argc and argv, languageId 0 and an empty title; the block
// lives for the whole run.
struct StartupArgs {
    int argc;
    char** argv;            // argv[0] is the program path
    int languageId;         // chosen language id; 0 = not chosen yet
    stdx::u16string title;  // localized window title
};

// The choices of the command line that the controller needs.
struct StartupChoice {
    bool useCurrentDir;            // "usecwd" was the first argument
    bool silent;                   // a silent switch, or --quiet, was seen
    stdx::u16string languageCode;  // code of the chosen language, "en" by default
    AdminOptions options;          // the long options and the help switches
};

// Reads the command line, chooses the user-interface language and fetches the
// window title. Call once, on the main thread, before any other thread exists.
//
// Arguments: "usecwd" exactly, and only as the first argument, selects the
// current-directory mode. Then every argument starting with '-' or '/' is a
// switch decided by its second character alone: 'S' or 's' sets silent mode;
// 'L' or 'l' takes the rest of the argument as a language code and ends the
// scan, whether or not the code names a language. Arguments that begin
// with "--" are never switches: they are the long options of AdminOptions,
// read from every argument after "usecwd" (see ParseAdminOptions); --quiet
// implies silent mode.
//
// When no language switch names a language, `localeIdentifier` (the user's
// locale, such as "ru_RU") decides: its first two characters, or the whole of
// a shorter identifier, are looked up as a code. In that case only, an empty
// or unset "LANG" is set to the full identifier followed by ".UTF-8"; a
// non-empty "LANG", or an empty identifier, leaves it unchanged. English is
// the fall-back.
//
// Sets the current language (SetLanguage), args.languageId (never 0 on
// return) and args.title (the text of "IDR_MAINFRAME").
StartupChoice ChooseStartup(StartupArgs& args, const stdx::string& localeIdentifier);
