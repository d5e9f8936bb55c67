// Feeds arbitrary bytes to the configuration reader and checks what must
// hold for every input: the same list whatever the pieces the bytes come
// in (the file's own blocks included), the list's promises, and that a
// written list reads back as itself.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "launcher/ConfigReader.h"
#include "launcher/ConfigWriter.h"
#include "text/StringUtils.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

ConfigList ParseInPieces(const char* bytes, std::size_t size, std::size_t piece) {
    ConfigList list;
    ConfigReader reader(list);
    for (std::size_t at = 0; at < size; at += piece) {
        reader.Feed(bytes + at, std::min(piece, size - at));
    }
    reader.Finish();
    return list;
}

bool Same(const ConfigList& a, const ConfigList& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].m_key != b[i].m_key || a[i].m_values != b[i].m_values) {
            return false;
        }
    }
    return true;
}

void CheckText(const stdx::u16string& text, bool isKey) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t unit = text[i];
        Require(unit != 0 && unit != u'\n' && !(isKey && unit == u'='));
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            Require(i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF);
            ++i;
        } else {
            Require(unit < 0xDC00 || unit > 0xDFFF);
        }
    }
}

void CheckPromises(const ConfigList& list) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        const ConfigEntry& entry = list[i];
        CheckText(entry.m_key, true);
        Require(!entry.m_values.empty());
        for (std::size_t j = 0; j < i; ++j) {
            Require(CompareNoCase(list[j].m_key, entry.m_key) != 0);
        }
        for (std::size_t v = 0; v < entry.m_values.size(); ++v) {
            CheckText(entry.m_values[v], false);
            Require(!entry.m_key.empty() || !entry.m_values[v].empty());
            for (std::size_t w = 0; w < v; ++w) {
                Require(CompareNoCase(entry.m_values[w], entry.m_values[v]) != 0);
            }
        }
    }
}

// The reader's own path: a file read in 1024-byte blocks.
ConfigList ReadThroughFile(const char* bytes, std::size_t size) {
    static const int descriptor = ::memfd_create("qalaunch.cfg", 0);
    Require(descriptor != -1);
    Require(::ftruncate(descriptor, 0) == 0);
    Require(::pwrite(descriptor, bytes, size, 0) == static_cast<ssize_t>(size));
    const std::string path = "/proc/self/fd/" + std::to_string(descriptor);
    ConfigList list;
    ReadConfigFile(Utf8ToUtf16(stdx::string(path.c_str())), list);
    return list;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    const ConfigList whole = ParseInPieces(bytes, size, size == 0 ? 1 : size);
    CheckPromises(whole);

    for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7}}) {
        Require(Same(ParseInPieces(bytes, size, piece), whole));
    }
    Require(Same(ReadThroughFile(bytes, size), whole));

    // A leading U+FEFF in the first key would be written as a byte-order
    // mark, which the next read skips.
    if (whole.empty() || whole[0].m_key.empty() || whole[0].m_key[0] != 0xFEFF) {
        const std::string text = FormatConfigText(whole);
        Require(
            Same(ParseInPieces(text.data(), text.size(), text.empty() ? 1 : text.size()), whole));
    }
    return 0;
}
