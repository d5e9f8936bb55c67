#include "tools/PkdOptions.h"

#include <cstdlib>

#include "text/Encoding.h"

namespace pkdtool {

namespace {

stdx::u16string Wide(const std::string& utf8) {
    return Utf8ToUtf16(stdx::string(utf8.data(), utf8.size()));
}

std::string Trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return std::string();
    }
    const std::size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

bool ParseLevel(const std::string& text, int* level) {
    if (text.size() != 1 || text[0] < '0' || text[0] > '9') {
        return false;
    }
    *level = text[0] - '0';
    return true;
}

// verify KIT [--key FILE]...
bool ParseVerify(int argc, const char* const* argv, Options* options, std::string* error) {
    options->command = Command::kVerify;
    std::vector<std::string> positional;
    for (int i = 2; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--key") {
            if (i + 1 >= argc) {
                *error = "--key needs a value";
                return false;
            }
            options->keyFiles.push_back(argv[++i]);
        } else if (argument.size() > 1 && argument[0] == '-') {
            *error = "unknown option \"" + argument + "\"";
            return false;
        } else {
            positional.push_back(argument);
        }
    }
    if (positional.size() != 1) {
        *error = "verify takes exactly one kit file";
        return false;
    }
    options->source = positional[0];
    return true;
}

// keygen -o SECRET [--public FILE]
bool ParseKeygen(int argc, const char* const* argv, Options* options, std::string* error) {
    options->command = Command::kKeygen;
    for (int i = 2; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool output = argument == "-o" || argument == "--output";
        if (!output && argument != "--public") {
            *error = "keygen takes -o SECRET and --public FILE, got \"" + argument + "\"";
            return false;
        }
        if (i + 1 >= argc) {
            *error = argument + " needs a value";
            return false;
        }
        (output ? options->output : options->publicKey) = argv[++i];
    }
    if (options->output.empty()) {
        *error = "keygen needs -o SECRET";
        return false;
    }
    return true;
}

}  // namespace

const char* UsageText() {
    return "usage: pkdtool create -o KIT [--single] [--level N] [--product RECORD]...\n"
           "                      [--manifest FILE] [--sign SECRET | --no-integrity] DIR\n"
           "       pkdtool list KIT\n"
           "       pkdtool verify KIT [--key FILE]...\n"
           "       pkdtool extract KIT DIR\n"
           "       pkdtool keygen -o SECRET [--public FILE]\n"
           "       pkdtool --help\n"
           "\n"
           "create  packs every regular file under DIR, sorted by path, with its\n"
           "        modification time, into the kit file KIT (an earlier KIT inside\n"
           "        DIR is left out). The kit ends with an integrity record: the\n"
           "        SHA-256 digest of the kit and, with --sign, an Ed25519 signature.\n"
           "  -o, --output KIT   the kit file to write (replaced when complete)\n"
           "  --product RECORD   a product record, LANG:NAME:PROVIDER:DESCRIPTION in\n"
           "                     UTF-8, e.g. en:Templates:ACME:doc\\readme.html;\n"
           "                     repeat for more languages\n"
           "  --manifest FILE    product records from FILE: [product] sections with\n"
           "                     language, name, provider and description keys\n"
           "  --single           the single-product layout (format version 0); the\n"
           "                     one product's language is taken as en\n"
           "  --level N          compression level 0 (store) to 9 (smallest)\n"
           "  --sign SECRET      sign the kit with the secret key in SECRET\n"
           "  --no-integrity     no integrity record: the bare DEFLATE stream\n"
           "list    prints the products of KIT, the integrity line of verify,\n"
           "        then one line per file: size, time (UTC) and name.\n"
           "        Control characters in texts and names are shown escaped.\n"
           "verify  checks KIT's integrity record and prints one line:\n"
           "          intact, signed by KEYID    intact, not signed\n"
           "          no integrity record        damaged: REASON\n"
           "        Status 0 when intact and, when keys are given, signed by one of\n"
           "        them; 1 otherwise.\n"
           "  --key FILE         a public key as keygen prints it; repeatable\n"
           "extract writes every file of KIT under DIR (created when missing) with\n"
           "        its recorded time. Names the installer refuses make the kit\n"
           "        damaged; nothing is written outside DIR and no link in DIR is\n"
           "        followed (a link where a file goes is replaced by the file).\n"
           "keygen  writes a new Ed25519 secret key to SECRET (mode 0600; an existing\n"
           "        file is never overwritten) and prints its public key on one\n"
           "        line, in the form that --key files and the installer's build\n"
           "        setting QA_KIT_PUBLIC_KEYS take.\n"
           "  --public FILE      also write the public key to FILE\n"
           "\n"
           "Exit status: 0 on success, 1 on failure (verify: not intact or not\n"
           "signed by a given key), 2 on a usage error.\n";
}

bool ParseProductArgument(const std::string& argument, config::ProductInfo* product,
                          std::string* error) {
    std::string fields[4];
    std::size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        const std::size_t colon = argument.find(':', start);
        if (colon == std::string::npos) {
            *error = "--product needs LANG:NAME:PROVIDER:DESCRIPTION, got \"" + argument + "\"";
            return false;
        }
        fields[i] = argument.substr(start, colon - start);
        start = colon + 1;
    }
    fields[3] = argument.substr(start);
    if (fields[0].empty()) {
        *error = "--product needs a language, got \"" + argument + "\"";
        return false;
    }
    product->m_language = Wide(fields[0]);
    product->m_productName = Wide(fields[1]);
    product->m_providerName = Wide(fields[2]);
    product->m_descriptionPath = Wide(fields[3]);
    return true;
}

bool ParseManifest(const std::string& text, std::vector<config::ProductInfo>* products,
                   std::string* error) {
    std::size_t lineStart = 0;
    int lineNumber = 0;
    bool inProduct = false;
    while (lineStart < text.size()) {
        std::size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string::npos) {
            lineEnd = text.size();
        }
        const std::string line = Trim(text.substr(lineStart, lineEnd - lineStart));
        lineStart = lineEnd + 1;
        ++lineNumber;
        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        if (line.empty() || line[0] == '#') {
            continue;
        }
        if (line == "[product]") {
            products->push_back(config::ProductInfo());
            inProduct = true;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) {
            *error = where + "expected [product] or key = value";
            return false;
        }
        if (!inProduct) {
            *error = where + "a key before the first [product] line";
            return false;
        }
        const std::string key = Trim(line.substr(0, equals));
        const stdx::u16string value = Wide(Trim(line.substr(equals + 1)));
        config::ProductInfo& product = products->back();
        if (key == "language") {
            product.m_language = value;
        } else if (key == "name") {
            product.m_productName = value;
        } else if (key == "provider") {
            product.m_providerName = value;
        } else if (key == "description") {
            product.m_descriptionPath = value;
        } else {
            *error = where + "unknown key \"" + key + "\"";
            return false;
        }
    }
    for (std::size_t i = 0; i < products->size(); ++i) {
        if ((*products)[i].m_language.empty()) {
            *error = "product " + std::to_string(i + 1) + " has no language";
            return false;
        }
    }
    return true;
}

bool ParseArguments(int argc, const char* const* argv, Options* options, std::string* error) {
    if (argc < 2) {
        *error = "no command given (try pkdtool --help)";
        return false;
    }
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        options->command = Command::kHelp;
        return true;
    }
    if (command == "list") {
        if (argc != 3) {
            *error = "list takes exactly one kit file";
            return false;
        }
        options->command = Command::kList;
        options->source = argv[2];
        return true;
    }
    if (command == "extract") {
        if (argc != 4) {
            *error = "extract takes a kit file and a directory";
            return false;
        }
        options->command = Command::kExtract;
        options->source = argv[2];
        options->output = argv[3];
        return true;
    }
    if (command == "verify") {
        return ParseVerify(argc, argv, options, error);
    }
    if (command == "keygen") {
        return ParseKeygen(argc, argv, options, error);
    }
    if (command != "create") {
        *error = "unknown command \"" + command + "\" (try pkdtool --help)";
        return false;
    }
    options->command = Command::kCreate;
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (int i = 2; i < argc; ++i) {
        const std::string argument = argv[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            positional.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        const bool takesValue = argument == "-o" || argument == "--output" ||
                                argument == "--level" || argument == "--product" ||
                                argument == "--manifest" || argument == "--sign";
        if (takesValue && i + 1 >= argc) {
            *error = argument + " needs a value";
            return false;
        }
        if (argument == "-o" || argument == "--output") {
            options->output = argv[++i];
        } else if (argument == "--level") {
            if (!ParseLevel(argv[++i], &options->level)) {
                *error = std::string("--level takes 0 to 9, got \"") + argv[i] + "\"";
                return false;
            }
        } else if (argument == "--product") {
            config::ProductInfo product;
            if (!ParseProductArgument(argv[++i], &product, error)) {
                return false;
            }
            options->products.push_back(product);
        } else if (argument == "--manifest") {
            options->manifest = argv[++i];
        } else if (argument == "--single") {
            options->single = true;
        } else if (argument == "--sign") {
            options->signingKey = argv[++i];
        } else if (argument == "--no-integrity") {
            options->integrity = false;
        } else if (argument == "--help" || argument == "-h") {
            options->command = Command::kHelp;
            return true;
        } else {
            *error = "unknown option \"" + argument + "\"";
            return false;
        }
    }
    if (options->output.empty()) {
        *error = "create needs -o KIT";
        return false;
    }
    if (!options->signingKey.empty() && !options->integrity) {
        *error = "--sign needs the integrity record that --no-integrity leaves out";
        return false;
    }
    if (positional.size() != 1) {
        *error = "create takes exactly one directory";
        return false;
    }
    options->source = positional[0];
    return true;
}

}  // namespace pkdtool
