#pragma once

#include <cstddef>
#include <string>

#include "tools/KitVerify.h"

namespace pkdtool {

// Writes every file of the loaded `kit` under `directory` (UTF-8; created
// when missing, its parent must exist), with the file's recorded time as
// access and modification time. Every level below `directory` is reached
// through the descriptor of the level above, without following links: a
// link or a file where a directory of the kit goes stops the extraction,
// and a link, file or special file where a kit file goes is replaced by the
// file (written under a temporary name beside it, then renamed over it), so
// nothing is ever written outside `directory`. Names that
// kit::IsSafeKitName refuses are refused here too. False with a one-line
// reason naming the path; the files written before the failure stay.
bool ExtractKit(ToolKit& kit, const std::string& directory, std::size_t* written,
                std::string* error);

}  // namespace pkdtool
