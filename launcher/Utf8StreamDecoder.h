#pragma once

#include <cstddef>
#include <cstdint>

// Decodes UTF-8 that arrives in pieces of any size: a character split
// between two pieces is decoded as if the bytes had come in one piece.
//
// Decoding is strict (no overlong forms, no surrogates, nothing above
// U+10FFFF). Each maximal ill-formed subsequence becomes one U+FFFD, as
// Unicode recommends, so the output does not depend on where the input was
// cut. Zero bytes are passed on as U+0000; what they mean is the caller's
// business.
class Utf8StreamDecoder {
public:
    // Calls sink(char32_t) once per decoded code point.
    template <class Sink>
    void Feed(const char* bytes, std::size_t count, Sink&& sink) {
        for (std::size_t i = 0; i < count; ++i) {
            Step(static_cast<unsigned char>(bytes[i]), sink);
        }
    }

    // Ends the input: an unfinished character becomes one U+FFFD.
    template <class Sink>
    void Finish(Sink&& sink) {
        if (m_pending != 0) {
            m_pending = 0;
            sink(kReplacement);
        }
    }

    static constexpr char32_t kReplacement = 0xFFFD;

private:
    template <class Sink>
    void Step(unsigned char byte, Sink& sink) {
        if (m_pending != 0) {
            if (byte >= m_low && byte <= m_high) {
                m_codePoint = (m_codePoint << 6) | (byte & 0x3Fu);
                m_low = 0x80;
                m_high = 0xBF;
                if (--m_pending == 0) {
                    sink(m_codePoint);
                }
                return;
            }
            // The sequence broke off; this byte starts afresh.
            m_pending = 0;
            sink(kReplacement);
        }
        Start(byte, sink);
    }

    template <class Sink>
    void Start(unsigned char byte, Sink& sink) {
        m_low = 0x80;
        m_high = 0xBF;
        if (byte < 0x80) {
            sink(static_cast<char32_t>(byte));
        } else if (byte >= 0xC2 && byte <= 0xDF) {
            m_pending = 1;
            m_codePoint = byte & 0x1Fu;
        } else if (byte >= 0xE0 && byte <= 0xEF) {
            m_pending = 2;
            m_codePoint = byte & 0x0Fu;
            // E0 would be overlong below A0; ED above 9F would be a surrogate.
            if (byte == 0xE0) {
                m_low = 0xA0;
            } else if (byte == 0xED) {
                m_high = 0x9F;
            }
        } else if (byte >= 0xF0 && byte <= 0xF4) {
            m_pending = 3;
            m_codePoint = byte & 0x07u;
            // F0 would be overlong below 90; F4 above 8F exceeds U+10FFFF.
            if (byte == 0xF0) {
                m_low = 0x90;
            } else if (byte == 0xF4) {
                m_high = 0x8F;
            }
        } else {
            sink(kReplacement);
        }
    }

    char32_t m_codePoint = 0;
    int m_pending = 0;
    unsigned char m_low = 0x80;
    unsigned char m_high = 0xBF;
};
