#pragma once

// What one call of an inflater's Inflate left behind. Both inflate policies
// (ZlibInflater, IsalInflater) report through it, so the kit reader's loop
// does not depend on which library decodes.
enum class InflateStatus {
    kOutputFull,  // call Inflate again: more output may be waiting
    kNeedInput,   // every input byte is used; give the next piece
    kEnd,         // the final block is done; later input is not part of the stream
    kError,       // not a raw DEFLATE stream, or a damaged one
};
