#pragma once

#include <string>

#include "text/String.h"

namespace pkdtool {

// `text` as UTF-8 that is safe to print on a terminal: C0 and C1 control
// characters, DEL, and the line, paragraph and bidirectional formatting
// characters are shown as \xNN (below U+0080) or \u{XXXX}; unpaired
// surrogates as \u{XXXX} too. Everything else is kept.
std::string EscapeForTerminal(const stdx::u16string& text);

}  // namespace pkdtool
