#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/InstallEvents.h"
#include "text/String.h"

// Tells an event sink what became of each kit record in kit order, though
// records are decided out of order: most while the run looks at the kit,
// some (those that may name a file an earlier record writes) only when the
// earlier one is in place, having been proposed before. Each decision is
// told as soon as every record before it has been; Flush tells the rest
// once the run has ended: what was decided, else what was proposed (the
// run stopped before it got there), passing over records the run never
// reached. Used by one thread at a time.
class OrderedEvents {
public:
    // relativeOf(i): record i's installed path below the template directory.
    void Start(InstallEventSink* sink, std::size_t records,
               std::function<stdx::u16string(std::size_t)> relativeOf) {
        m_sink = sink;
        m_relativeOf = std::move(relativeOf);
        m_told = 0;
        m_decided.assign(sink != nullptr ? records : 0, 0);
    }

    // Record index ended as action: told now, with every decided record
    // after it, if every record before it has been told.
    void Decide(std::size_t index, FileAction action) {
        if (m_sink == nullptr) {
            return;
        }
        m_decided[index] = static_cast<std::uint8_t>(1 + static_cast<int>(action));
        Tell(false);
    }

    // Record index will end as action unless a later look says otherwise:
    // told by Flush only, and only if it is not decided by then.
    void Propose(std::size_t index, FileAction action) {
        if (m_sink != nullptr) {
            m_decided[index] =
                static_cast<std::uint8_t>(kProposed | (1 + static_cast<int>(action)));
        }
    }

    // Tells every decided or proposed record not yet told.
    void Flush() {
        if (m_sink != nullptr) {
            Tell(true);
        }
    }

private:
    void Tell(bool ended) {
        while (m_told < m_decided.size()) {
            std::uint8_t decided = m_decided[m_told];
            if ((decided & kProposed) != 0) {
                if (!ended) {
                    return;
                }
                decided &= static_cast<std::uint8_t>(~kProposed);
            }
            if (decided != 0) {
                m_sink->OnFileAction(m_relativeOf(m_told), static_cast<FileAction>(decided - 1));
            } else if (!ended) {
                return;
            }
            ++m_told;
        }
    }

    static constexpr std::uint8_t kProposed = 0x80;

    InstallEventSink* m_sink = nullptr;
    std::function<stdx::u16string(std::size_t)> m_relativeOf;
    // 0 while undecided, else 1 + the FileAction, with kProposed while it
    // is only proposed.
    std::vector<std::uint8_t> m_decided;
    std::size_t m_told = 0;
};
