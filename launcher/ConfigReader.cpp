#include "launcher/ConfigReader.h"

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

void ReadConfigFile(const stdx::u16string& path, ConfigList& list) {
    // Binary mode: the reader does its own decoding, whatever the locale.
    std::FILE* file = OpenFile(path.c_str(), u"rb");
    if (file == nullptr) {
        return;
    }
    ConfigReader reader(list);
    char block[ConfigReader::kBlockSize];
    for (;;) {
        std::size_t count = std::fread(block, 1, sizeof(block), file);
        reader.Feed(block, count);
        if (count < sizeof(block)) {
            // End of file, or a read error: what was read so far counts.
            break;
        }
    }
    reader.Finish();
    std::fclose(file);
}
