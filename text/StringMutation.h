// The out-of-line members of stdx::basic_string: the buffer handling shared
// by every change (leaving the inline form, detaching a shared buffer,
// growing) and the mutating operations built on it. String.h includes this
// file at its end; include String.h, not this file.
#pragma once

#include <algorithm>
#include <cstdint>
#include <stdexcept>

namespace stdx {

template <class CharT, class Traits>
void basic_string<CharT, Traits>::init(const CharT* p, size_type n) {
    if (n < kInlineUnits) {
        if (p != nullptr) {
            Traits::copy(m_inline, p, n);
        }
        set_inline_length(n);
        return;
    }
    if (n > Buffer::max_text) {
        Buffer::throw_too_large();
    }
    CharT* buffer = Buffer::allocate(n + kHeaderUnits);
    if (p != nullptr) {
        Traits::copy(buffer + kHeaderUnits, p, n);
    }
    switch_to_heap(buffer, n + kHeaderUnits);
    set_length(n);
}

// Makes the text writable with room for n units and returns it. Of the old
// text, the first keep units survive a change of buffer; the length is left
// for the caller to set.
template <class CharT, class Traits>
CharT* basic_string<CharT, Traits>::make_room(size_type n, Growth growth, size_type keep) {
    if (n > Buffer::max_text) {
        Buffer::throw_too_large();
    }
    const size_type need = n + kHeaderUnits;
    if (is_inline()) {
        if (n < kInlineUnits) {
            return m_inline;
        }
        // Leaving the inline form takes exactly what the text needs.
        CharT* buffer = Buffer::allocate(need);
        Traits::copy(buffer + kHeaderUnits, m_inline, keep);
        switch_to_heap(buffer, need);
        return buffer + kHeaderUnits;
    }
    const bool shared = Buffer::is_shared(m_heap.buffer);
    // A shared buffer is first detached into one of exactly the current length.
    const size_type base = shared ? size() + kHeaderUnits : static_cast<size_type>(m_heap.capacity);
    if (!shared && need <= base) {
        return m_heap.buffer + kHeaderUnits;
    }
    size_type capacity = base;
    if (need > base) {
        switch (growth) {
            case Growth::Exact:
                capacity = need;
                break;
            case Growth::Round:
                capacity = Buffer::rounded(need);
                break;
            case Growth::Append:
                capacity = Buffer::grown(base, need);
                break;
        }
    }
    CharT* buffer = Buffer::allocate(capacity);
    Traits::copy(buffer + kHeaderUnits, m_heap.buffer + kHeaderUnits, keep);
    Buffer::release(m_heap.buffer);
    switch_to_heap(buffer, capacity);
    return buffer + kHeaderUnits;
}

template <class CharT, class Traits>
CharT* basic_string<CharT, Traits>::writable() {
    if (is_inline()) {
        return m_inline;
    }
    const size_type len = size();
    CharT* t = make_room(len, Growth::Exact, len);
    set_length(len);
    return t;
}

template <class CharT, class Traits>
basic_string<CharT, Traits>& basic_string<CharT, Traits>::assign(const CharT* p, size_type n) {
    // A source inside our own text is found again by its offset after any
    // change of buffer; make_room keeps the old text for that case.
    const bool inside = n != 0 && points_into_text(p);
    const size_type offset = inside ? static_cast<size_type>(p - text()) : 0;
    CharT* t = make_room(n, Growth::Round, inside ? size() : 0);
    if (inside) {
        Traits::move(t, t + offset, n);
    } else if (n != 0) {
        Traits::copy(t, p, n);
    }
    set_length(n);
    return *this;
}

template <class CharT, class Traits>
basic_string<CharT, Traits>& basic_string<CharT, Traits>::append(const CharT* p, size_type n) {
    if (n == 0) {
        return *this;
    }
    const size_type len = size();
    if (n > max_size() - len) {
        Buffer::throw_too_large();
    }
    const bool inside = points_into_text(p);
    const size_type offset = inside ? static_cast<size_type>(p - text()) : 0;
    CharT* t = make_room(len + n, Growth::Append, len);
    // The source ends at or before the old end, so it never overlaps the
    // units being written.
    Traits::copy(t + len, inside ? t + offset : p, n);
    set_length(len + n);
    return *this;
}

template <class CharT, class Traits>
basic_string<CharT, Traits>& basic_string<CharT, Traits>::append(size_type n, CharT c) {
    const size_type len = size();
    if (n > max_size() - len) {
        Buffer::throw_too_large();
    }
    if (n != 0) {
        Traits::assign(make_room(len + n, Growth::Append, len) + len, n, c);
        set_length(len + n);
    }
    return *this;
}

template <class CharT, class Traits>
basic_string<CharT, Traits>& basic_string<CharT, Traits>::insert(size_type pos, const CharT* p,
                                                                 size_type n) {
    const size_type len = size();
    check_pos(pos, len);
    if (pos == len) {
        return append(p, n);
    }
    if (n == 0) {
        return *this;
    }
    if (points_into_text(p)) {
        const basic_string copy(p, n);
        return insert(pos, copy.text(), n);
    }
    if (n > max_size() - len) {
        Buffer::throw_too_large();
    }
    CharT* t = make_room(len + n, Growth::Round, len);
    Traits::move(t + pos + n, t + pos, len - pos);
    Traits::copy(t + pos, p, n);
    set_length(len + n);
    return *this;
}

template <class CharT, class Traits>
basic_string<CharT, Traits>& basic_string<CharT, Traits>::erase(size_type pos, size_type n) {
    const size_type len = size();
    check_pos(pos, len);
    n = std::min(n, len - pos);
    if (n == 0) {
        return *this;
    }
    CharT* t = make_room(len, Growth::Exact, len);
    Traits::move(t + pos, t + pos + n, len - pos - n);
    set_length(len - n);
    return *this;
}

template <class CharT, class Traits>
void basic_string<CharT, Traits>::resize(size_type n, CharT fill) {
    const size_type len = size();
    if (n == len) {
        return;
    }
    CharT* t = make_room(n, Growth::Round, std::min(n, len));
    if (n > len) {
        Traits::assign(t + len, n - len, fill);
    }
    set_length(n);
}

template <class CharT, class Traits>
void basic_string<CharT, Traits>::reserve(size_type n) {
    if (n >= (std::uint64_t(1) << 63) - 1) {
        throw std::length_error("basic_string");
    }
    if (is_inline() && n < kInlineUnits) {
        return;
    }
    const size_type len = size();
    make_room(std::max(n, len), Growth::Exact, len);
    set_length(len);
}

}  // namespace stdx
