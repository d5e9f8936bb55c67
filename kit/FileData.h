#pragma once

#include <cstdint>

#include "engine/fs/FileSystem.h"
#include "text/String.h"

namespace config {

// One file record of a kit.
template <class FileSystemPolicy>
struct FileData {
    FileSystemPolicy m_fileSystem;
    // Relative path exactly as stored (backslash separators). A loaded kit
    // only holds names that passed IsSafeKitName.
    stdx::u16string m_name;
    FileTime m_lastWriteTime = 0;
    // Relative to the data area as stored; after a successful load the
    // absolute position in the stream file.
    std::uint32_t m_offset = 0;
    std::uint32_t m_size = 0;
};

}  // namespace config
