// The heap buffer behind a long stdx::basic_string: a 64-bit atomic reference
// count, then the text, then one zero unit. The count's space is measured in
// units of text (the "header"); a buffer of capacity c holds c units counting
// the header, and one further unit for the terminator is always allocated.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>

namespace stdx {
namespace detail {

template <class CharT>
struct shared_buffer {
    static_assert(sizeof(std::atomic<std::uint64_t>) == sizeof(std::uint64_t),
                  "the count fits its header");

    // Units occupied by the reference count.
    static constexpr std::size_t header_units = sizeof(std::uint64_t) / sizeof(CharT);
    // Units one allocation may span, the terminator included.
    static constexpr std::size_t max_units =
        std::numeric_limits<std::size_t>::max() / sizeof(CharT);
    // Units of text a buffer may hold.
    static constexpr std::size_t max_text = max_units - header_units - 1;

    // Throws the allocator's std::length_error for a request that cannot be
    // represented.
    [[noreturn]] static void throw_too_large() {
        throw std::length_error(
            "allocator<T>::allocate(size_t n) 'n' exceeds maximum supported size");
    }

    // A new buffer of the given capacity (header included) with count 1.
    // Throws std::length_error when capacity + 1 units cannot be represented;
    // allocation failure propagates as std::bad_alloc.
    static CharT* allocate(std::size_t capacity) {
        if (capacity > max_units - 1) {
            throw_too_large();
        }
        // operator new aligns for the 64-bit count.
        CharT* buffer = static_cast<CharT*>(::operator new((capacity + 1) * sizeof(CharT)));
        new (buffer) std::atomic<std::uint64_t>(1);
        return buffer;
    }

    static std::atomic<std::uint64_t>& count(CharT* buffer) noexcept {
        return *reinterpret_cast<std::atomic<std::uint64_t>*>(buffer);
    }

    static void add_ref(CharT* buffer) noexcept {
        count(buffer).fetch_add(1, std::memory_order_relaxed);
    }

    // Drops one reference; the owner that drops the last frees the buffer.
    static void release(CharT* buffer) noexcept {
        if (count(buffer).fetch_sub(1, std::memory_order_acq_rel) == 1) {
            ::operator delete(buffer);
        }
    }

    // True when another string holds the buffer too.
    static bool is_shared(CharT* buffer) noexcept {
        return count(buffer).load(std::memory_order_acquire) != 1;
    }

    // The request in units, turned into bytes and rounded up to a step that
    // grows with the size (none from 16384 bytes), back in units.
    static std::size_t rounded(std::size_t units) {
        if (units > max_units - 1) {
            throw_too_large();
        }
        const std::size_t bytes = units * sizeof(CharT);
        std::size_t step = 1;
        if (bytes <= 256) {
            step = 8;
        } else if (bytes <= 512) {
            step = 16;
        } else if (bytes < 1024) {
            step = 32;
        } else if (bytes < 2048) {
            step = 64;
        } else if (bytes < 4096) {
            step = 128;
        } else if (bytes < 8192) {
            step = 256;
        } else if (bytes < 16384) {
            step = 512;
        }
        return (bytes + step - 1) / step * step / sizeof(CharT);
    }

    // The capacity an append asks for when a buffer of capacity current is too
    // small for need units (both header included): at least one and a half
    // times the current capacity, then rounded.
    static std::size_t grown(std::size_t current, std::size_t need) {
        const std::size_t limit = max_units - 1;
        const std::size_t half = current / 2;
        const std::size_t larger = current > limit - half ? limit : current + half;
        return rounded(need > larger ? need : larger);
    }
};

}  // namespace detail
}  // namespace stdx
