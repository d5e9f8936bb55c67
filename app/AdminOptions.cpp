#include "app/AdminOptions.h"

#include <cstring>

#include "launcher/LauncherPaths.h"
#include "text/Encoding.h"

namespace {

// The value of "--name=value" when arg has that form, else null.
const char* ValueOf(const char* arg, const char* name) {
    const std::size_t length = std::strlen(name);
    if (std::strncmp(arg, name, length) != 0 || arg[length] != '=') {
        return nullptr;
    }
    return arg + length + 1;
}

bool IsHelpSwitch(const char* arg) {
    return std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "-?") == 0 ||
           std::strcmp(arg, "/?") == 0;
}

void Refuse(AdminOptions& options, const stdx::string& reason) {
    if (options.usageError.empty()) {
        options.usageError = reason;
    }
}

void ReadLongOption(const char* arg, AdminOptions& options) {
    if (std::strcmp(arg, "--help") == 0) {
        options.help = true;
    } else if (std::strcmp(arg, "--version") == 0) {
        options.version = true;
    } else if (std::strcmp(arg, "--quiet") == 0) {
        options.quiet = true;
    } else if (std::strcmp(arg, "--plan") == 0) {
        options.plan = true;
    } else if (const char* dir = ValueOf(arg, "--dir")) {
        stdx::u16string absolute;
        if (!ExpandTargetPath(Utf8ToUtf16(stdx::string(dir)), &absolute)) {
            Refuse(options, stdx::string("--dir needs an absolute path or one starting with ~/: ") +
                                stdx::string(dir));
            return;
        }
        options.hasDir = true;
        options.dir = absolute;
    } else if (const char* log = ValueOf(arg, "--log")) {
        if (log[0] == '\0') {
            Refuse(options, stdx::string("--log needs a file name"));
            return;
        }
        options.hasLog = true;
        options.logPath = stdx::string(log);
    } else {
        Refuse(options, stdx::string("unknown option ") + stdx::string(arg));
    }
}

}  // namespace

int FirstOptionIndex(int argc, char** argv) {
    if (argc >= 2 && argv != nullptr && argv[1] != nullptr && std::strcmp(argv[1], "usecwd") == 0) {
        return 2;
    }
    return 1;
}

AdminOptions ParseAdminOptions(int argc, char** argv, int first) {
    AdminOptions options;
    if (argv == nullptr) {
        return options;
    }
    for (int i = first; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg == nullptr) {
            continue;
        }
        if (IsHelpSwitch(arg)) {
            options.help = true;
        } else if (arg[0] == '-' && arg[1] == '-') {
            ReadLongOption(arg, options);
        }
    }
    return options;
}
