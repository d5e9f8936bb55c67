#include "launcher/ConfigReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "text/Encoding.h"

namespace {

constexpr char32_t kByteOrderMark = 0xFEFF;

}  // namespace

void ConfigReader::Feed(const char* bytes, std::size_t count) {
    m_decoder.Feed(bytes, count, [this](char32_t codePoint) { PutCodePoint(codePoint); });
}

void ConfigReader::Finish() {
    m_decoder.Finish([this](char32_t codePoint) { PutCodePoint(codePoint); });
    FlushCollector();
    EndLine();
    m_atStart = true;
}

void ConfigReader::PutCodePoint(char32_t codePoint) {
    bool first = m_atStart;
    m_atStart = false;
    if (codePoint == 0 || (first && codePoint == kByteOrderMark)) {
        return;
    }
    if (codePoint < 0x10000) {
        PutUnit(static_cast<char16_t>(codePoint));
    } else {
        codePoint -= 0x10000;
        PutUnit(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
        PutUnit(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
    }
}

void ConfigReader::PutUnit(char16_t unit) {
    if (unit == u'\n') {
        FlushCollector();
        EndLine();
        return;
    }
    if (unit == u'=' && !m_inValue) {
        FlushCollector();
        m_inValue = true;
        return;
    }
    if (m_collected == kCollectorSize) {
        FlushCollector();
    }
    m_collector[m_collected++] = unit;
}

void ConfigReader::FlushCollector() {
    if (m_collected == 0) {
        return;
    }
    (m_inValue ? m_value : m_key).append(m_collector, m_collected);
    m_collected = 0;
}

void ConfigReader::EndLine() {
    if (!m_key.empty() || !m_value.empty()) {
        AddValue(m_list, m_key, m_value);
    }
    m_key.clear();
    m_value.clear();
    m_inValue = false;
}

std::FILE* OpenFile(const char16_t* path, const char16_t* mode) {
    stdx::string path8 = Utf16ToUtf8(stdx::u16string(path));
    stdx::string mode8 = Utf16ToUtf8(stdx::u16string(mode));
    return std::fopen(path8.c_str(), mode8.c_str());
}

bool ReadConfigFile(const stdx::u16string& path, ConfigList& list, std::string* bytes) {
    const stdx::string path8 = Utf16ToUtf8(path);
    // Non-blocking: opening a pipe for reading would otherwise wait for a
    // writer for ever. Only a regular file is read after that.
    const int fd = ::open(path8.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT || errno == ENOTDIR;
    }
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return false;
    }
    ConfigReader reader(list);
    char block[ConfigReader::kBlockSize];
    bool whole = true;
    for (;;) {
        const ssize_t count = ::read(fd, block, sizeof(block));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            // End of file, or a read error: what was read so far counts.
            whole = count == 0;
            break;
        }
        reader.Feed(block, static_cast<std::size_t>(count));
        if (bytes != nullptr) {
            bytes->append(block, static_cast<std::size_t>(count));
        }
    }
    reader.Finish();
    ::close(fd);
    return whole;
}
