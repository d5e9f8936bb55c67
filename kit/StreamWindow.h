#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace kit {

// The part of a kit's inflated stream held in memory between the inflater
// and the readers of the kit's files, when the files to be read, and their
// order, are known before their data is inflated: an installation that
// writes each file once then needs no copy of the whole stream on disk.
//
// The window is a ring of kBytes over the stream from `base` on. The reads
// are given at the start, in the order their data comes in the stream, none
// overlapping the one before (Fits); each moves its own position from its
// start to its end, and the ring keeps every byte from the position of the
// first unfinished read on (the tail). The inflater may fill only what lies
// before the tail's byte kBytes further on. A read that ends early (Drop)
// or is abandoned with every other (Abandon) frees its bytes.
//
// Not thread-safe: kit::StreamProgress holds it under its lock, and its
// users copy into and out of the ring outside the lock, each within the
// bytes this class has given it.
class StreamWindow {
public:
    static constexpr std::uint32_t kBytes = 2u * 1048576u;

    struct Range {
        std::uint64_t begin;
        std::uint64_t end;
    };

    // Whether reads of these ranges, in this order, can go through a window:
    // each begins at or after the end of the one before. Empty ranges do
    // not count; they read nothing.
    static bool Fits(const std::vector<Range>& ranges) {
        std::uint64_t end = 0;
        for (const Range& range : ranges) {
            if (range.end < range.begin || (range.end != range.begin && range.begin < end)) {
                return false;
            }
            if (range.end != range.begin) {
                end = range.end;
            }
        }
        return true;
    }

    // The reads, in order (Fits must hold); read i is ranges[i]. The window
    // holds nothing until Begin.
    void Expect(const std::vector<Range>& ranges) {
        m_reads.clear();
        m_reads.reserve(ranges.size());
        for (const Range& range : ranges) {
            m_reads.push_back({range.begin, range.end, false, range.begin == range.end});
        }
        m_front = 0;
        m_abandoned = false;
        m_begun = false;
        m_base = 0;
        m_head = 0;
    }
    // The ring starts holding the stream from `base` on; the bytes before
    // it are in the stream file.
    void Begin(std::uint64_t base) {
        if (m_ring == nullptr) {
            m_ring.reset(new unsigned char[kBytes]);
        }
        m_begun = true;
        m_base = base;
        m_head = base;
    }
    bool Begun() const { return m_begun; }
    // Where the window starts, and how far the stream is inflated into it.
    std::uint64_t Base() const { return m_base; }
    std::uint64_t Head() const { return m_head; }

    // The inflater's side: how many bytes may be inflated at *at now, in one
    // piece, at most `most`.
    std::uint32_t Room(std::uint32_t most, unsigned char** at) {
        const std::uint64_t free = Free();
        const std::uint32_t offset = static_cast<std::uint32_t>(m_head % kBytes);
        std::uint64_t room = kBytes - offset;
        room = room < free ? room : free;
        *at = m_ring.get() + offset;
        return static_cast<std::uint32_t>(room < most ? room : most);
    }
    // The bytes free in the ring, in all.
    std::uint64_t Free() { return kBytes - (m_head - Tail()); }
    // `count` more bytes were inflated at the place Room gave.
    void Filled(std::uint32_t count) { m_head += count; }

    // The readers' side. Read `read` is at Position(read); the bytes held
    // for it from there, in one piece, are returned with their place, and
    // the read is busy until Advance: they stay until then. 0 when none are
    // held yet (or the read is past the head, done or dropped).
    std::uint32_t Available(std::size_t read, const unsigned char** at) {
        Read& entry = m_reads[read];
        if (entry.done || entry.position < m_base || entry.position >= m_head) {
            return 0;
        }
        const std::uint32_t offset = static_cast<std::uint32_t>(entry.position % kBytes);
        std::uint64_t count =
            m_head < entry.end ? m_head - entry.position : entry.end - entry.position;
        count = count < kBytes - offset ? count : kBytes - offset;
        *at = m_ring.get() + offset;
        entry.busy = true;
        return static_cast<std::uint32_t>(count);
    }
    // Read `read` has used `count` bytes from its position (copied from the
    // window or from the disk); at its end it is done.
    void Advance(std::size_t read, std::uint64_t count) {
        Read& entry = m_reads[read];
        entry.busy = false;
        entry.position += count;
        if (entry.position >= entry.end || m_abandoned) {
            entry.done = true;
        }
    }
    std::uint64_t Position(std::size_t read) const { return m_reads[read].position; }
    std::uint64_t End(std::size_t read) const { return m_reads[read].end; }
    bool Done(std::size_t read) const { return m_reads[read].done; }
    // Read `read` ends before its end: its bytes are not kept for it.
    void Drop(std::size_t read) {
        m_reads[read].busy = false;
        m_reads[read].done = true;
    }
    // No read goes on: each one not busy now is dropped, and each busy one
    // at its Advance.
    void Abandon() {
        m_abandoned = true;
        for (std::size_t i = m_front; i < m_reads.size(); ++i) {
            if (!m_reads[i].busy) {
                m_reads[i].done = true;
            }
        }
    }
    bool Abandoned() const { return m_abandoned; }

    // The first byte still kept: the position of the first unfinished read,
    // or the head when none is left.
    std::uint64_t Tail() {
        while (m_front < m_reads.size() && m_reads[m_front].done) {
            ++m_front;
        }
        if (m_front == m_reads.size()) {
            return m_head;
        }
        const std::uint64_t position = m_reads[m_front].position;
        if (position < m_base) {
            return m_base;
        }
        return position < m_head ? position : m_head;
    }

private:
    struct Read {
        std::uint64_t position;
        std::uint64_t end;
        bool busy;
        bool done;
    };

    std::unique_ptr<unsigned char[]> m_ring;
    std::vector<Read> m_reads;
    std::size_t m_front = 0;
    bool m_abandoned = false;
    bool m_begun = false;
    std::uint64_t m_base = 0;
    std::uint64_t m_head = 0;
};

}  // namespace kit
