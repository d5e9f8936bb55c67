#include "app/Usage.h"

#ifndef QA_VERSION
#define QA_VERSION "0"
#endif

const char kProgramVersion[] = QA_VERSION;

stdx::string UsageText() {
    return stdx::string(
        "Usage: Setup [usecwd] [-L<code>] [-S] [--quiet] [--dir=PATH] [--log=FILE]\n"
        "       Setup [usecwd] --plan [--dir=PATH]\n"
        "       Setup --help | --version\n"
        "\n"
        "  usecwd        only as the first argument: look for qarn.pkd in the current\n"
        "                directory instead of beside the application bundle\n"
        "  -L<code>      user-interface language by two-letter code (en, ru, de, ...);\n"
        "                the one-letter switches after it are not read\n"
        "  -S, /S        silent mode: no questions, install into the proposed directory\n"
        "  --quiet       silent mode that never shows a window or message box; every\n"
        "                message goes to standard error (implies -S)\n"
        "  --dir=PATH    the template directory (\"~\" and \"~/...\" from the home\n"
        "                directory; other relative paths are refused); in the wizard\n"
        "                the proposed directory\n"
        "  --log=FILE    append a log of the run to FILE (a regular file, created with\n"
        "                mode 0600; a link there is refused)\n"
        "  --plan        dry run: print what an installation would do with each kit\n"
        "                file (install, replace, repair, skip, conflict) and change\n"
        "                nothing\n"
        "  --help, -h, -?, /?\n"
        "                print this text\n"
        "  --version     print the program's name and version\n"
        "\n"
        "Exit status (silent mode, --quiet and --plan; the wizard with a window\n"
        "ends with 0 after what it showed, and with 2, 8 (a signal or a lost\n"
        "display), 9 and 10 for what nobody may have seen):\n"
        "   0  success (--plan: the installation could proceed)\n"
        "   2  usage error: an unknown option, a relative --dir, a log that cannot\n"
        "      be opened\n"
        "   3  the kit file is missing\n"
        "   4  the kit is damaged, cannot be read, or fails its integrity check\n"
        "   5  not enough space in the temporary directory\n"
        "   6  no usable template directory\n"
        "   7  the installation failed; the template directory was restored\n"
        "   8  the installation was cancelled; the template directory was restored\n"
        "   9  the installation failed and the template directory could not be fully\n"
        "      restored; the backup's location is printed\n"
        "  10  the wizard was asked for but no display is available\n"
        "  11  --plan found a conflict\n"
        "\n"
        "Success is reported only once every file is on stable storage. A run cut\n"
        "short (killed, crashed, a power cut) is finished by the next start, before\n"
        "it looks for the kit: the template directory is then as it was before the\n"
        "run, or fully installed, and nothing else.\n");
}

stdx::string VersionText() {
    return stdx::string("Setup ") + stdx::string(kProgramVersion) + "\n";
}
