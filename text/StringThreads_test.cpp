// Strings handed between threads: the shared buffer's count must stay exact
// when copies are made and released on several threads at once.
#include "text/String.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

using U16 = stdx::u16string;

TEST(StringThreads, CopiesReleasedOnEveryThread) {
    const U16 original(u"a path long enough to live on the heap");
    constexpr int kThreads = 4;
    constexpr int kRounds = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        // Each thread gets its own copy by value and makes and drops more.
        threads.emplace_back([copy = original] {
            for (int i = 0; i < kRounds; ++i) {
                U16 again(copy);
                U16 assigned;
                assigned = again;
                if (i % 100 == 0) {
                    assigned.push_back(u'!');  // detaches this one only
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(1u, original.use_count());
    EXPECT_EQ(U16(u"a path long enough to live on the heap"), original);
}

TEST(StringThreads, HandOverAndReleaseOnBothSides) {
    for (int round = 0; round < 200; ++round) {
        U16 mine(u"status text shared with the worker thread");
        U16 theirs(mine);
        std::thread worker([text = std::move(theirs)]() mutable {
            U16 local(text);
            text = U16();
            local.append(u" (seen)");
            EXPECT_EQ(U16(u"status text shared with the worker thread (seen)"), local);
        });
        mine = U16();
        worker.join();
    }
    U16 last(u"status text shared with the worker thread");
    U16 copy(last);
    std::thread worker([&copy] { copy = U16(); });
    worker.join();
    EXPECT_EQ(1u, last.use_count());
}

}  // namespace
