#pragma once

#include "text/String.h"

namespace kit {

// Whether a file name from a kit may be joined to the template directory.
// Refused: an empty name; an absolute one ("\" or "/" first); a drive prefix
// (an ASCII letter and ":", alone or before a separator: "C:", "C:\..."); a
// zero unit (the C library would cut the path there); and any
// empty, "." or ".." component between separators, where both "\" and "/"
// separate. Everything else stays inside the directory it is joined to.
bool IsSafeKitName(const stdx::u16string& name);

}  // namespace kit
