#pragma once

#include <string>
#include <vector>

#include "kit/ProductInfo.h"

// The command line of pkdtool, parsed without touching the disk.
namespace pkdtool {

enum class Command { kHelp, kCreate, kList, kVerify, kExtract, kKeygen };

struct Options {
    Command command = Command::kHelp;
    std::string output;                         // create: -o KIT; keygen: -o SECRET; extract: DIR
    std::string source;                         // create: DIR; list, verify, extract: KIT
    std::string manifest;                       // create: --manifest FILE
    bool single = false;                        // create: --single
    int level = -1;                             // create: --level N (-1: zlib's default)
    std::string signingKey;                     // create: --sign SECRET
    bool integrity = true;                      // create: false with --no-integrity
    std::string publicKey;                      // keygen: --public FILE
    std::vector<std::string> keyFiles;          // verify: --key FILE, in order
    std::vector<config::ProductInfo> products;  // create: --product, in order
};

// Parses argv[1..]. False with a one-line reason for any usage error.
bool ParseArguments(int argc, const char* const* argv, Options* options, std::string* error);

// "LANG:NAME:PROVIDER:DESCRIPTION", UTF-8. The first three colons separate
// the fields, so only the description may hold a colon. False with a reason.
bool ParseProductArgument(const std::string& argument, config::ProductInfo* product,
                          std::string* error);

// A manifest: UTF-8 lines of "key = value" in sections that each start with
// a "[product]" line; keys "language", "name", "provider", "description".
// Blank lines and lines starting with "#" are ignored. Products come out in
// file order. False with the line number and reason.
bool ParseManifest(const std::string& text, std::vector<config::ProductInfo>* products,
                   std::string* error);

// The text of "pkdtool --help".
const char* UsageText();

}  // namespace pkdtool
