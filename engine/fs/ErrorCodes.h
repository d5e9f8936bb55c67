#pragma once

#include <cstdint>

// Result codes shared by the file-system layer, the kit reader, the install
// worker and the controller. 0 is success; callers compare with 0 and pass
// other codes through unchanged.
using ErrorCode = std::uint32_t;

constexpr ErrorCode kErrorSuccess = 0;
constexpr ErrorCode kErrorNotFound = 2;           // ENOENT, or a missing source
constexpr ErrorCode kErrorNoParent = 3;           // a path has no parent directory to create
constexpr ErrorCode kErrorInvalidHandle = 6;      // handle is -1, or fstat failed
constexpr ErrorCode kErrorInflate = 13;           // the kit stream cannot be inflated
constexpr ErrorCode kErrorNotSupported = 50;      // not here: the caller takes another way
constexpr ErrorCode kErrorInvalidParameter = 87;  // any other failure
constexpr ErrorCode kErrorAlreadyExists = 183;    // MakeDirectory on an existing directory
constexpr ErrorCode kErrorTempFile = 1013;        // the temporary file was not created
constexpr ErrorCode kErrorCancelled = 1223;       // the installation run was cancelled
