// The project string type: a copy-on-write string with a small inline buffer.
//
// Texts of up to kInlineUnits - 1 units (11 UTF-16 units, 23 bytes) live
// inside the object; longer texts live in a heap buffer (SharedBuffer.h)
// that copies share, counted atomically. Copies may therefore be handed
// between threads and released on either; a single object must not be
// changed by two threads at once.
//
// A heap string never returns to the inline form by itself: shorter text,
// erase and resize keep the buffer. Only taking over another string's
// representation (copy or move assignment, swap) does. Before any change, and
// before handing out a writable pointer or reference, a shared buffer is
// detached into a private one of exactly the current length.
//
// Growth: leaving the inline form and reserve take exactly what is asked;
// assign, resize and insert round the request up (see
// shared_buffer::rounded); append asks for at least one and a half times the
// current capacity. A buffer is only ever replaced by a larger one.
//
// Errors: positions past the end throw std::out_of_range("basic_string");
// reserve of 2^63 - 1 units or more throws std::length_error("basic_string");
// a request whose size cannot be represented throws the allocator's
// std::length_error; allocation failure throws std::bad_alloc.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "text/SharedBuffer.h"

namespace stdx {

template <class CharT>
struct fix_char_traits : std::char_traits<CharT> {};

template <class CharT, class Traits = fix_char_traits<CharT>>
class basic_string {
public:
    using traits_type = Traits;
    using value_type = CharT;
    using size_type = std::size_t;
    using difference_type = std::ptrdiff_t;
    using reference = CharT&;
    using const_reference = const CharT&;
    using pointer = CharT*;
    using const_pointer = const CharT*;
    using iterator = CharT*;
    using const_iterator = const CharT*;

    static constexpr size_type npos = static_cast<size_type>(-1);

    // Units in the inline array: 24 bytes for both widths. Texts of up to
    // kInlineUnits - 1 units are held inline, longer ones on the heap.
    static constexpr size_type kInlineUnits = 24 / sizeof(CharT);
    // Units occupied by the reference count at the start of a heap buffer.
    static constexpr size_type kHeaderUnits = detail::shared_buffer<CharT>::header_units;

    basic_string() noexcept { set_inline_length(0); }
    basic_string(const CharT* p, size_type n) { init(p, n); }
    basic_string(const CharT* p) { init(p, Traits::length(p)); }
    basic_string(size_type n, CharT c) {
        init(nullptr, n);
        Traits::assign(text(), n, c);
    }
    // Throws std::out_of_range("basic_string") when pos > other.size().
    basic_string(const basic_string& other, size_type pos, size_type n = npos) {
        check_pos(pos, other.size());
        init(other.text() + pos, std::min(n, other.size() - pos));
    }
    basic_string(const basic_string& other) noexcept { copy_from(other); }
    basic_string(basic_string&& other) noexcept { steal(other); }
    ~basic_string() { release(); }

    basic_string& operator=(const basic_string& other) noexcept {
        if (this != &other) {
            // Take the new reference before dropping the old one, so that a
            // string sharing our buffer keeps it alive.
            basic_string keep(std::move(*this));
            copy_from(other);
        }
        return *this;
    }
    basic_string& operator=(basic_string&& other) noexcept {
        if (this != &other) {
            release();
            steal(other);
        }
        return *this;
    }
    basic_string& operator=(const CharT* p) { return assign(p, Traits::length(p)); }
    basic_string& operator=(CharT c) { return assign(&c, 1); }

    // Replaces the text; p may point into this string's own text.
    basic_string& assign(const CharT* p, size_type n);
    basic_string& assign(const CharT* p) { return assign(p, Traits::length(p)); }
    basic_string& assign(const basic_string& other) { return *this = other; }

    // Appends n units from p; p may point into this string's own text.
    basic_string& append(const CharT* p, size_type n);
    basic_string& append(const CharT* p) { return append(p, Traits::length(p)); }
    basic_string& append(const basic_string& other) { return append(other.text(), other.size()); }
    // Appends at most n units of other from pos; throws
    // std::out_of_range("basic_string") when pos > other.size().
    basic_string& append(const basic_string& other, size_type pos, size_type n = npos) {
        check_pos(pos, other.size());
        return append(other.text() + pos, std::min(n, other.size() - pos));
    }
    basic_string& append(size_type n, CharT c);
    void push_back(CharT c) { append(&c, 1); }
    void pop_back() { erase(size() - 1, 1); }

    basic_string& operator+=(const basic_string& other) { return append(other); }
    basic_string& operator+=(const CharT* p) { return append(p); }
    basic_string& operator+=(CharT c) { return append(&c, 1); }

    // Inserts n units from p before pos (at the end it is an append); throws
    // std::out_of_range("basic_string") when pos > size().
    basic_string& insert(size_type pos, const CharT* p, size_type n);
    basic_string& insert(size_type pos, const CharT* p) {
        return insert(pos, p, Traits::length(p));
    }
    basic_string& insert(size_type pos, const basic_string& other) {
        return insert(pos, other.text(), other.size());
    }

    // Removes at most n units from pos; throws std::out_of_range("basic_string")
    // when pos > size().
    basic_string& erase(size_type pos = 0, size_type n = npos);
    // Shortens, or lengthens filling with fill. A heap string keeps its buffer.
    void resize(size_type n, CharT fill = CharT());
    // Makes room for n units of text. Throws std::length_error("basic_string")
    // for n >= 2^63 - 1.
    void reserve(size_type n = 0);
    void clear() { resize(0); }
    void swap(basic_string& other) noexcept {
        basic_string tmp(std::move(other));
        other = std::move(*this);
        *this = std::move(tmp);
    }

    size_type size() const noexcept {
        return is_inline() ? m_form
                           : static_cast<size_type>(m_heap.end - m_heap.buffer) - kHeaderUnits;
    }
    size_type length() const noexcept { return size(); }
    bool empty() const noexcept { return size() == 0; }
    size_type max_size() const noexcept { return detail::shared_buffer<CharT>::max_text; }

    const CharT* c_str() const noexcept { return text(); }
    const CharT* data() const noexcept { return text(); }
    // The writable accessors detach a shared buffer first.
    CharT* data() { return writable(); }

    const CharT& operator[](size_type i) const noexcept { return text()[i]; }
    CharT& operator[](size_type i) { return writable()[i]; }
    // Throws std::out_of_range("basic_string") when i >= size().
    const CharT& at(size_type i) const {
        check_index(i);
        return text()[i];
    }
    CharT& at(size_type i) {
        check_index(i);
        return writable()[i];
    }
    const CharT& front() const noexcept { return text()[0]; }
    CharT& front() { return writable()[0]; }
    const CharT& back() const noexcept { return text()[size() - 1]; }
    CharT& back() { return writable()[size() - 1]; }

    const_iterator begin() const noexcept { return text(); }
    const_iterator end() const noexcept { return text() + size(); }
    const_iterator cbegin() const noexcept { return begin(); }
    const_iterator cend() const noexcept { return end(); }
    iterator begin() { return writable(); }
    iterator end() { return writable() + size(); }

    std::basic_string_view<CharT> view() const noexcept { return {text(), size()}; }

    // Searches; each returns the position found or npos.
    size_type find(const CharT* p, size_type pos, size_type n) const noexcept {
        return view().find(p, pos, n);
    }
    size_type find(const basic_string& s, size_type pos = 0) const noexcept {
        return find(s.text(), pos, s.size());
    }
    size_type find(const CharT* p, size_type pos = 0) const noexcept {
        return find(p, pos, Traits::length(p));
    }
    size_type find(CharT c, size_type pos = 0) const noexcept { return view().find(c, pos); }
    size_type rfind(CharT c, size_type pos = npos) const noexcept { return view().rfind(c, pos); }
    size_type rfind(const basic_string& s, size_type pos = npos) const noexcept {
        return view().rfind(s.view(), pos);
    }
    size_type rfind(const CharT* p, size_type pos = npos) const noexcept {
        return view().rfind(p, pos, Traits::length(p));
    }
    size_type find_first_of(const CharT* set, size_type pos = 0) const noexcept {
        return view().find_first_of(set, pos);
    }
    size_type find_first_of(const basic_string& set, size_type pos = 0) const noexcept {
        return view().find_first_of(set.view(), pos);
    }
    size_type find_first_of(CharT c, size_type pos = 0) const noexcept { return find(c, pos); }
    size_type find_last_of(const CharT* set, size_type pos = npos) const noexcept {
        return view().find_last_of(set, pos);
    }
    size_type find_last_of(const basic_string& set, size_type pos = npos) const noexcept {
        return view().find_last_of(set.view(), pos);
    }
    size_type find_last_of(CharT c, size_type pos = npos) const noexcept { return rfind(c, pos); }
    size_type find_first_not_of(const CharT* set, size_type pos = 0) const noexcept {
        return view().find_first_not_of(set, pos);
    }
    size_type find_last_not_of(const CharT* set, size_type pos = npos) const noexcept {
        return view().find_last_not_of(set, pos);
    }

    // Throws std::out_of_range("basic_string") when pos > size().
    basic_string substr(size_type pos = 0, size_type n = npos) const {
        return basic_string(*this, pos, n);
    }

    // Unit-by-unit comparison: < 0, 0 or > 0.
    int compare(const basic_string& other) const noexcept {
        return compare(other.text(), other.size());
    }
    int compare(const CharT* p) const noexcept { return compare(p, Traits::length(p)); }
    int compare(const CharT* p, size_type n) const noexcept {
        const size_type len = size();
        const int r = Traits::compare(text(), p, std::min(len, n));
        if (r != 0) {
            return r;
        }
        return len < n ? -1 : (len > n ? 1 : 0);
    }

    // Introspection for tests and diagnostics: the form of the representation.
    bool is_inline() const noexcept { return m_form < kInlineUnits; }
    // Units of text the current storage holds without reallocation.
    size_type capacity() const noexcept {
        return is_inline() ? kInlineUnits - 1
                           : static_cast<size_type>(m_heap.capacity) - kHeaderUnits;
    }
    // Owners of the heap buffer (0 for an inline string).
    std::uint64_t use_count() const noexcept {
        return is_inline() ? 0 : Buffer::count(m_heap.buffer).load(std::memory_order_acquire);
    }

private:
    struct Heap {
        CharT* buffer;
        CharT* end;
        std::uint64_t capacity;
    };
    static_assert(sizeof(Heap) == sizeof(CharT) * kInlineUnits, "heap words fill the inline array");
    using Buffer = detail::shared_buffer<CharT>;

    enum class Growth { Exact, Round, Append };

    const CharT* text() const noexcept {
        return is_inline() ? m_inline : m_heap.buffer + kHeaderUnits;
    }
    CharT* text() noexcept { return is_inline() ? m_inline : m_heap.buffer + kHeaderUnits; }

    void set_inline_length(size_type n) noexcept {
        m_form = static_cast<std::uint32_t>(n);
        m_inline[n] = CharT();
    }
    void set_length(size_type n) noexcept {
        if (is_inline()) {
            set_inline_length(n);
        } else {
            m_heap.end = m_heap.buffer + kHeaderUnits + n;
            *m_heap.end = CharT();
        }
    }

    static void check_pos(size_type pos, size_type len) {
        if (pos > len) {
            throw std::out_of_range("basic_string");
        }
    }
    void check_index(size_type i) const {
        if (i >= size()) {
            throw std::out_of_range("basic_string");
        }
    }
    bool points_into_text(const CharT* p) const noexcept {
        const CharT* t = text();
        return std::less_equal<const CharT*>()(t, p) && std::less<const CharT*>()(p, t + size());
    }

    void init(const CharT* p, size_type n);
    void copy_from(const basic_string& other) noexcept {
        m_form = other.m_form;
        if (other.is_inline()) {
            Traits::copy(m_inline, other.m_inline, other.m_form + 1);
        } else {
            m_heap = other.m_heap;
            Buffer::add_ref(m_heap.buffer);
        }
    }
    void steal(basic_string& other) noexcept {
        m_form = other.m_form;
        if (other.is_inline()) {
            Traits::copy(m_inline, other.m_inline, other.m_form + 1);
        } else {
            m_heap = other.m_heap;
        }
        other.set_inline_length(0);
    }
    void release() noexcept {
        if (!is_inline()) {
            Buffer::release(m_heap.buffer);
        }
    }

    void switch_to_heap(CharT* buffer, size_type capacity) noexcept {
        m_form = static_cast<std::uint32_t>(kInlineUnits);
        m_heap.buffer = buffer;
        m_heap.capacity = capacity;
    }
    CharT* make_room(size_type n, Growth growth, size_type keep);
    CharT* writable();

    std::uint32_t m_form;
    union {
        CharT m_inline[kInlineUnits];
        Heap m_heap;
    };
};

using string = basic_string<char>;
using u16string = basic_string<char16_t>;

namespace detail {
template <class CharT, class Traits>
basic_string<CharT, Traits> concatenate(const CharT* a, std::size_t na, const CharT* b,
                                        std::size_t nb) {
    // Sized once for the sum, without growth rounding.
    basic_string<CharT, Traits> r;
    r.reserve(na + nb);
    r.append(a, na);
    r.append(b, nb);
    return r;
}
}  // namespace detail

template <class CharT, class Traits>
basic_string<CharT, Traits> operator+(const basic_string<CharT, Traits>& a,
                                      const basic_string<CharT, Traits>& b) {
    return detail::concatenate<CharT, Traits>(a.data(), a.size(), b.data(), b.size());
}
template <class CharT, class Traits>
basic_string<CharT, Traits> operator+(const basic_string<CharT, Traits>& a, const CharT* b) {
    return detail::concatenate<CharT, Traits>(a.data(), a.size(), b, Traits::length(b));
}
template <class CharT, class Traits>
basic_string<CharT, Traits> operator+(const CharT* a, const basic_string<CharT, Traits>& b) {
    return detail::concatenate<CharT, Traits>(a, Traits::length(a), b.data(), b.size());
}
template <class CharT, class Traits>
basic_string<CharT, Traits> operator+(const basic_string<CharT, Traits>& a, CharT b) {
    return detail::concatenate<CharT, Traits>(a.data(), a.size(), &b, 1);
}
template <class CharT, class Traits>
basic_string<CharT, Traits> operator+(CharT a, const basic_string<CharT, Traits>& b) {
    return detail::concatenate<CharT, Traits>(&a, 1, b.data(), b.size());
}

template <class CharT, class Traits>
bool operator==(const basic_string<CharT, Traits>& a, const basic_string<CharT, Traits>& b) {
    return a.size() == b.size() && Traits::compare(a.data(), b.data(), a.size()) == 0;
}
template <class CharT, class Traits>
bool operator==(const basic_string<CharT, Traits>& a, const CharT* b) {
    return a.compare(b) == 0;
}
template <class CharT, class Traits>
bool operator==(const CharT* a, const basic_string<CharT, Traits>& b) {
    return b.compare(a) == 0;
}
template <class CharT, class Traits>
bool operator!=(const basic_string<CharT, Traits>& a, const basic_string<CharT, Traits>& b) {
    return !(a == b);
}
template <class CharT, class Traits>
bool operator!=(const basic_string<CharT, Traits>& a, const CharT* b) {
    return !(a == b);
}
template <class CharT, class Traits>
bool operator!=(const CharT* a, const basic_string<CharT, Traits>& b) {
    return !(a == b);
}
template <class CharT, class Traits>
bool operator<(const basic_string<CharT, Traits>& a, const basic_string<CharT, Traits>& b) {
    return a.compare(b) < 0;
}
template <class CharT, class Traits>
bool operator>(const basic_string<CharT, Traits>& a, const basic_string<CharT, Traits>& b) {
    return b < a;
}
template <class CharT, class Traits>
bool operator<=(const basic_string<CharT, Traits>& a, const basic_string<CharT, Traits>& b) {
    return !(b < a);
}
template <class CharT, class Traits>
bool operator>=(const basic_string<CharT, Traits>& a, const basic_string<CharT, Traits>& b) {
    return !(a < b);
}

template <class CharT, class Traits>
void swap(basic_string<CharT, Traits>& a, basic_string<CharT, Traits>& b) noexcept {
    a.swap(b);
}

}  // namespace stdx

namespace std {
template <class CharT>
struct hash<stdx::basic_string<CharT, stdx::fix_char_traits<CharT>>> {
    size_t operator()(
        const stdx::basic_string<CharT, stdx::fix_char_traits<CharT>>& s) const noexcept {
        return hash<basic_string_view<CharT>>()(s.view());
    }
};
}  // namespace std

// The members defined out of line need the complete class above.
#include "text/StringMutation.h"
