#include "text/String.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <unordered_set>

// Global allocation hooks, so that a test can see when one particular heap
// buffer is given back.
namespace {
std::atomic<const void*> g_watched{nullptr};
std::atomic<int> g_watchedFrees{0};

void NoteFree(void* p) {
    if (p != nullptr && p == g_watched.load()) {
        ++g_watchedFrees;
    }
}
}  // namespace

// Out of line, so that the compiler does not pair malloc/free with new/delete.
[[gnu::noinline]] void* operator new(std::size_t n) {
    if (void* p = std::malloc(n == 0 ? 1 : n)) {
        return p;
    }
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
    NoteFree(p);
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
    NoteFree(p);
    std::free(p);
}

namespace {

using U16 = stdx::u16string;
using U8 = stdx::string;

// The start of the shared buffer: the count sits in front of the text.
const void* BufferOf(const U16& s) {
    return s.c_str() - U16::kHeaderUnits;
}

template <class E>
std::string MessageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    }
    return "no exception";
}

TEST(StringForm, LayoutIsFormThenThreeWords) {
    static_assert(sizeof(U16) == 32, "32-bit form plus a 24-byte array, padded");
    static_assert(sizeof(U8) == 32, "32-bit form plus a 24-byte array, padded");
    EXPECT_EQ(12u, U16::kInlineUnits);
    EXPECT_EQ(24u, U8::kInlineUnits);
    EXPECT_EQ(4u, U16::kHeaderUnits);
    EXPECT_EQ(8u, U8::kHeaderUnits);
}

TEST(StringForm, InlineUpToElevenUtf16Units) {
    U16 eleven(u"abcdefghijk");
    U16 twelve(u"abcdefghijkl");
    EXPECT_TRUE(eleven.is_inline());
    EXPECT_EQ(0u, eleven.use_count());
    EXPECT_FALSE(twelve.is_inline());
    EXPECT_EQ(1u, twelve.use_count());
    EXPECT_EQ(11u, eleven.size());
    EXPECT_EQ(12u, twelve.size());
    EXPECT_EQ(0, eleven.c_str()[11]);
    EXPECT_EQ(0, twelve.c_str()[12]);
    EXPECT_EQ(12u, twelve.capacity());
}

TEST(StringForm, InlineUpToTwentyThreeBytes) {
    U8 s23(23, 'x');
    U8 s24(24, 'x');
    EXPECT_TRUE(s23.is_inline());
    EXPECT_FALSE(s24.is_inline());
    EXPECT_EQ(std::string(23, 'x'), s23.c_str());
    EXPECT_EQ(std::string(24, 'x'), s24.c_str());
    EXPECT_EQ(24u, s24.capacity());
}

TEST(StringForm, EveryOperationCrossesTheBoundaryAtN) {
    U16 appended(u"abcdefghijk");
    appended.push_back(u'l');
    EXPECT_FALSE(appended.is_inline());
    EXPECT_EQ(U16(u"abcdefghijkl"), appended);

    U16 assigned;
    assigned.assign(u"abcdefghijkl", 12);
    EXPECT_FALSE(assigned.is_inline());

    U16 resized(u"ab");
    resized.resize(11, u'z');
    EXPECT_TRUE(resized.is_inline());
    resized.resize(12, u'z');
    EXPECT_FALSE(resized.is_inline());
    EXPECT_EQ(U16(u"abzzzzzzzzzz"), resized);

    U8 inserted(22, 'a');
    inserted.insert(1, "b", 1);
    EXPECT_TRUE(inserted.is_inline());
    inserted.insert(1, "c", 1);
    EXPECT_FALSE(inserted.is_inline());
    EXPECT_EQ(std::string("acb") + std::string(21, 'a'), inserted.c_str());
}

TEST(StringForm, HeapFormSurvivesShorterText) {
    U16 s(u"a text long enough for the heap");
    const std::size_t capacity = s.capacity();
    s.assign(u"short", 5);
    EXPECT_FALSE(s.is_inline());
    EXPECT_EQ(capacity, s.capacity());
    EXPECT_EQ(U16(u"short"), s);
    s.resize(2);
    s.erase(0, 1);
    EXPECT_FALSE(s.is_inline());
    EXPECT_EQ(U16(u"h"), s);
    s.clear();
    EXPECT_FALSE(s.is_inline());
    EXPECT_TRUE(s.empty());
    EXPECT_EQ(0, s.c_str()[0]);
}

TEST(StringForm, TakingOverARepresentationEndsHeapForm) {
    U16 heap(u"a text long enough for the heap");
    U16 small(u"tiny");
    heap = small;
    EXPECT_TRUE(heap.is_inline());
    EXPECT_EQ(U16(u"tiny"), heap);

    U16 moved(u"another text on the heap");
    U16 target(u"old text, also on the heap");
    target = std::move(moved);
    EXPECT_EQ(U16(u"another text on the heap"), target);
    EXPECT_TRUE(moved.is_inline());
    EXPECT_TRUE(moved.empty());

    U16 a(u"x");
    U16 b(u"a text long enough for the heap");
    a.swap(b);
    EXPECT_FALSE(a.is_inline());
    EXPECT_TRUE(b.is_inline());
    EXPECT_EQ(U16(u"x"), b);
}

TEST(StringSharing, CopyThenModifyCopyLeavesOriginal) {
    U16 a(u"a text long enough for the heap");
    U16 b(a);
    EXPECT_EQ(2u, a.use_count());
    EXPECT_EQ(a.c_str(), b.c_str());
    b[0] = u'A';
    EXPECT_EQ(U16(u"a text long enough for the heap"), a);
    EXPECT_EQ(U16(u"A text long enough for the heap"), b);
    EXPECT_NE(a.c_str(), b.c_str());
    EXPECT_EQ(1u, a.use_count());
    EXPECT_EQ(1u, b.use_count());
}

TEST(StringSharing, InlineCopiesAreIndependent) {
    U16 a(u"short");
    U16 b(a);
    b[0] = u'S';
    EXPECT_EQ(U16(u"short"), a);
    EXPECT_NE(a.c_str(), b.c_str());
}

TEST(StringSharing, BufferFreedOnlyWhenTheLastOwnerGoes) {
    g_watchedFrees = 0;
    auto* first = new U16(u"a text long enough for the heap");
    g_watched = BufferOf(*first);
    auto* second = new U16(*first);
    U16 third;
    third = *second;
    EXPECT_EQ(3u, third.use_count());
    delete first;
    EXPECT_EQ(0, g_watchedFrees.load());
    delete second;
    EXPECT_EQ(0, g_watchedFrees.load());
    EXPECT_EQ(1u, third.use_count());
    EXPECT_EQ(U16(u"a text long enough for the heap"), third);
    third = U16();
    EXPECT_EQ(1, g_watchedFrees.load());
    g_watched = nullptr;
}

TEST(StringSharing, DetachGivesBackTheSharedReference) {
    g_watchedFrees = 0;
    U16 a(u"a text long enough for the heap");
    g_watched = BufferOf(a);
    {
        U16 b(a);
        b.append(u"!");
        EXPECT_EQ(1u, a.use_count());
    }
    EXPECT_EQ(0, g_watchedFrees.load());
    a.push_back(u'?');  // unshared: grows, so the old buffer goes
    EXPECT_EQ(1, g_watchedFrees.load());
    g_watched = nullptr;
}

TEST(StringSharing, WritableAccessDetachesReadAccessDoesNot) {
    const U16 original(u"a text long enough for the heap");
    U16 copy(original);
    const U16& view = copy;
    EXPECT_EQ(u'a', view[0]);
    EXPECT_EQ(u'p', view.back());
    EXPECT_EQ(view.c_str(), view.begin());
    EXPECT_EQ(2u, original.use_count());

    U16 byData(original);
    byData.data()[0] = u'D';
    U16 byBegin(original);
    *byBegin.begin() = u'B';
    U16 byBack(original);
    byBack.back() = u'!';
    EXPECT_EQ(U16(u"a text long enough for the heap"), original);
    EXPECT_EQ(U16(u"D text long enough for the heap"), byData);
    EXPECT_EQ(U16(u"B text long enough for the heap"), byBegin);
    EXPECT_EQ(U16(u"a text long enough for the hea!"), byBack);
    EXPECT_EQ(2u, original.use_count());  // still shared with copy
}

TEST(StringSharing, EveryChangeDetaches) {
    const U16 original(u"a text long enough for the heap");
    U16 erased(original);
    erased.erase(0, 2);
    U16 resized(original);
    resized.resize(6);
    U16 assigned(original);
    assigned.assign(u"other", 5);
    U16 appended(original);
    appended += u'.';
    U16 inserted(original);
    inserted.insert(0, u">", 1);
    U16 reserved(original);
    reserved.reserve(200);
    reserved[0] = u'R';
    U16 cleared(original);
    cleared.clear();
    EXPECT_EQ(U16(u"a text long enough for the heap"), original);
    EXPECT_EQ(U16(u"text long enough for the heap"), erased);
    EXPECT_EQ(U16(u"a text"), resized);
    EXPECT_EQ(U16(u"other"), assigned);
    EXPECT_EQ(U16(u"a text long enough for the heap."), appended);
    EXPECT_EQ(U16(u">a text long enough for the heap"), inserted);
    EXPECT_EQ(U16(u"R text long enough for the heap"), reserved);
    EXPECT_TRUE(cleared.empty());
    EXPECT_EQ(1u, original.use_count());
}

TEST(StringSharing, DetachedBufferHoldsExactlyTheText) {
    U16 a(u"a text long enough for the heap");  // 31 units
    a.reserve(100);
    U16 b(a);
    b[0] = u'A';
    EXPECT_EQ(31u, b.capacity());
    EXPECT_EQ(100u, a.capacity());
}

TEST(StringSharing, HashFollowsTheText) {
    std::unordered_set<U16> set;
    set.insert(U16(u"a text long enough for the heap"));
    set.insert(U16(u"a text long enough for the heap"));
    set.insert(U16(u"x"));
    EXPECT_EQ(2u, set.size());
    EXPECT_EQ(1u, set.count(U16(u"x")));
    EXPECT_EQ(std::hash<U8>()(U8("same")), std::hash<U8>()(U8("same")));
}

TEST(StringOverlap, AssignPartOfItself) {
    U16 inlineText(u"0123456789");
    inlineText.assign(inlineText.c_str() + 3, 4);
    EXPECT_EQ(U16(u"3456"), inlineText);

    U16 heap(u"abcdefghijklmnopqrstuvwxyz");
    heap.assign(heap.c_str() + 20, 6);
    EXPECT_EQ(U16(u"uvwxyz"), heap);
    EXPECT_FALSE(heap.is_inline());

    U16 shared(u"abcdefghijklmnopqrstuvwxyz");
    const U16 other(shared);
    shared.assign(shared.c_str() + 1, 20);
    EXPECT_EQ(U16(u"bcdefghijklmnopqrstu"), shared);
    EXPECT_EQ(U16(u"abcdefghijklmnopqrstuvwxyz"), other);

    U16 whole(u"abcdefghijklmnopqrstuvwxyz");
    whole.assign(whole.c_str(), whole.size());
    EXPECT_EQ(U16(u"abcdefghijklmnopqrstuvwxyz"), whole);
}

TEST(StringOverlap, AppendPartOfItselfAcrossEveryForm) {
    // Inline into inline, inline into a new heap buffer, unshared heap into
    // a larger buffer, and shared heap into a detached buffer.
    U16 small(u"abc");
    small.append(small, 1, 2);
    EXPECT_EQ(U16(u"abcbc"), small);

    U16 leaving(u"abcdefghij");
    leaving.append(leaving.c_str() + 2, 8);
    EXPECT_FALSE(leaving.is_inline());
    EXPECT_EQ(U16(u"abcdefghijcdefghij"), leaving);

    U16 growing(u"abcdefghijklmnop");
    ASSERT_EQ(growing.size(), growing.capacity());
    growing.append(growing);
    EXPECT_EQ(U16(u"abcdefghijklmnopabcdefghijklmnop"), growing);

    U16 shared(u"abcdefghijklmnop");
    const U16 other(shared);
    shared += shared;
    EXPECT_EQ(U16(u"abcdefghijklmnopabcdefghijklmnop"), shared);
    EXPECT_EQ(U16(u"abcdefghijklmnop"), other);

    U8 bytes(30, 'q');
    bytes.append(bytes.c_str() + 25, 5);
    EXPECT_EQ(std::string(35, 'q'), bytes.c_str());
}

TEST(StringOverlap, InsertPartOfItself) {
    U8 s("abcdefghijklmnopqrstuvwxyz");
    s.insert(1, s.c_str() + 23, 3);
    EXPECT_EQ(std::string("axyzbcdefghijklmnopqrstuvwxyz"), s.c_str());
    U8 t("0123");
    t.insert(2, t);
    EXPECT_EQ(std::string("01012323"), t.c_str());
}

TEST(StringErrors, RangeErrorsNameTheType) {
    const U16 s(u"abc");
    EXPECT_EQ("basic_string", MessageOf<std::out_of_range>([&] { U16(s, 4); }));
    EXPECT_EQ("basic_string", MessageOf<std::out_of_range>([&] { s.substr(4); }));
    EXPECT_EQ("basic_string", MessageOf<std::out_of_range>([&] { U16().append(s, 4, 1); }));
    EXPECT_EQ("basic_string", MessageOf<std::out_of_range>([&] { U16(s).erase(4); }));
    EXPECT_EQ("basic_string", MessageOf<std::out_of_range>([&] { U8("ab").insert(3, "x"); }));
    EXPECT_EQ("basic_string", MessageOf<std::out_of_range>([&] { s.at(3); }));
}

TEST(StringErrors, PositionAtTheEndIsValid) {
    const U16 s(u"abc");
    EXPECT_TRUE(s.substr(3).empty());
    EXPECT_TRUE(U16(s, 3).empty());
    EXPECT_EQ(s, U16(s).append(s, 3, 5));
    EXPECT_EQ(s, U16(s).erase(3));
    EXPECT_EQ(U16(u"bc"), s.substr(1, 100));
    EXPECT_EQ(U16(u"ac"), U16(s).append(s, 3).erase(1, 1));
}

TEST(StringErrors, OversizedRequestsThrowLengthError) {
    const std::string allocator =
        "allocator<T>::allocate(size_t n) 'n' exceeds maximum supported size";
    // Not a constant, so that the compiler does not trace it into dead paths.
    volatile std::size_t maximum = std::numeric_limits<std::size_t>::max();
    const std::size_t limit = maximum;
    EXPECT_EQ("basic_string",
              MessageOf<std::length_error>([] { U16().reserve((std::uint64_t(1) << 63) - 1); }));
    EXPECT_EQ("basic_string", MessageOf<std::length_error>([&] { U8().reserve(limit); }));
    EXPECT_EQ(allocator,
              MessageOf<std::length_error>([] { U16().reserve((std::uint64_t(1) << 63) - 2); }));
    EXPECT_EQ(allocator, MessageOf<std::length_error>([&] { U16().resize(limit / 2); }));
    EXPECT_EQ(allocator, MessageOf<std::length_error>([&] { U8(u8"x").append(limit, 'y'); }));
    U16 s(u"a text long enough for the heap");
    EXPECT_EQ(allocator, MessageOf<std::length_error>([&] { s.append(s.c_str(), limit - 4); }));
    EXPECT_EQ(U16(u"a text long enough for the heap"), s);
}

TEST(StringGrowth, LeavingInlineFormTakesTheExactSize) {
    U16 s(u"abcdefghijk");
    s.push_back(u'l');
    EXPECT_EQ(12u, s.capacity());
    U16 t(u"abc");
    t.append(U16(100, u'x'));
    EXPECT_EQ(103u, t.capacity());
    U16 r;
    r.resize(13);
    EXPECT_EQ(13u, r.capacity());
    U16 v;
    v.reserve(12);
    EXPECT_FALSE(v.is_inline());
    EXPECT_EQ(12u, v.capacity());
    U16 w;
    w.reserve(11);
    EXPECT_TRUE(w.is_inline());
}

TEST(StringGrowth, AppendGrowsByHalfAndRounds) {
    // 12 units + 4 header = 16 units; growth to max(17, 24) = 24 units.
    U16 s(U16(12, u'a'));
    s.push_back(u'b');
    EXPECT_EQ(20u, s.capacity());
    // 24 bytes + 8 header; growth to max(33, 48) = 48 bytes.
    U8 b(24, 'a');
    b.push_back('b');
    EXPECT_EQ(40u, b.capacity());
    b.append(15, 'c');  // fills the buffer
    EXPECT_EQ(40u, b.capacity());
    b.push_back('d');  // 72 bytes, a multiple of 8
    EXPECT_EQ(64u, b.capacity());
    // A large append beyond one and a half times: 300 + 8 bytes rounded to 16.
    U8 c(24, 'a');
    c.append(U8(276, 'z'));
    EXPECT_EQ(312u, c.capacity());
}

TEST(StringGrowth, RepeatedAppendsReallocateRarely) {
    U16 s(U16(12, u'a'));
    const U16 chunk(2048, u'x');
    int changes = 0;
    const char16_t* last = s.c_str();
    for (int i = 0; i < 64; ++i) {
        s.append(chunk);
        if (s.c_str() != last) {
            ++changes;
            last = s.c_str();
        }
    }
    EXPECT_EQ(12u + 64u * 2048u, s.size());
    EXPECT_LE(changes, 12);
}

TEST(StringGrowth, AssignAndResizeRoundThePlainRequest) {
    struct Case {
        std::size_t text;      // units of text requested
        std::size_t capacity;  // units of text the rounded buffer holds
    };
    // Byte sizes of text plus the 8-byte header, on each side of each step.
    const Case narrow[] = {{30, 32},     {248, 248},     {249, 264},     {504, 504},
                           {505, 536},   {1015, 1016},   {1017, 1080},   {2039, 2040},
                           {2041, 2168}, {4087, 4088},   {4089, 4344},   {8183, 8184},
                           {8185, 8696}, {16375, 16376}, {16377, 16377}, {16378, 16378}};
    for (const Case& c : narrow) {
        U8 s(24, 'a');
        s.assign(U8(c.text, 'b').c_str(), c.text);
        EXPECT_EQ(c.capacity, s.capacity()) << "assign " << c.text;
        U8 r(24, 'a');
        r.resize(c.text);
        EXPECT_EQ(c.capacity, r.capacity()) << "resize " << c.text;
    }
    // UTF-16: (125 + 4) * 2 = 258 bytes, rounded to 272; (253 + 4) * 2 = 514, to 544.
    const Case wide[] = {{13, 16}, {21, 24}, {125, 132}, {253, 268}};
    for (const Case& c : wide) {
        U16 s(12, u'a');
        s.assign(U16(c.text, u'b').c_str(), c.text);
        EXPECT_EQ(c.capacity, s.capacity()) << "assign " << c.text;
        U16 r(12, u'a');
        r.resize(c.text, u'c');
        EXPECT_EQ(c.capacity, r.capacity()) << "resize " << c.text;
        EXPECT_EQ(c.text, r.size());
        EXPECT_EQ(u'c', r[c.text - 1]);
    }
}

TEST(StringGrowth, ReserveIsExactAndNeverShrinks) {
    U16 s(12, u'a');
    const char16_t* before = s.c_str();
    s.reserve(5);
    EXPECT_EQ(before, s.c_str());
    EXPECT_EQ(12u, s.capacity());
    s.reserve(101);
    EXPECT_EQ(101u, s.capacity());
    EXPECT_EQ(U16(12, u'a'), s);
    s.reserve(50);
    EXPECT_EQ(101u, s.capacity());
}

TEST(StringGrowth, ConcatenationIsSizedOnce) {
    const U16 a(u"abcdefgh");
    const U16 b(u"ijklmnop");
    const U16 sum = a + b;
    EXPECT_EQ(U16(u"abcdefghijklmnop"), sum);
    EXPECT_EQ(16u, sum.capacity());
    EXPECT_TRUE((U16(u"abcde") + u"fghijk").is_inline());
    EXPECT_EQ(U16(u"/x/y"), u"/x" + (U16(u"/") + u'y'));
    EXPECT_EQ(U8("ab"), 'a' + U8("b"));
}

TEST(StringEdit, EraseResizeInsert) {
    U16 s(u"0123456789abcdef");
    s.erase(2, 3);
    EXPECT_EQ(U16(u"0156789abcdef"), s);
    s.erase(10);
    EXPECT_EQ(U16(u"0156789abc"), s);
    s.erase(3, 100);
    EXPECT_EQ(U16(u"015"), s);
    s.resize(6, u'-');
    EXPECT_EQ(U16(u"015---"), s);
    s.resize(1);
    EXPECT_EQ(U16(u"0"), s);
    EXPECT_EQ(0, s.c_str()[1]);

    U8 n("held");
    n.insert(0, "up", 2);
    n.insert(2, "-", 1);
    n.insert(n.size(), "!", 1);
    EXPECT_EQ(std::string("up-held!"), n.c_str());
}

TEST(StringEdit, SearchesAndComparisons) {
    const U16 path(u"dir\\\\sub/file.txt");
    EXPECT_EQ(8u, path.find_last_of(u"/\\"));
    EXPECT_EQ(3u, path.find_first_of(u"/\\"));
    EXPECT_EQ(4u, path.find_last_of(u"/\\", 7));
    EXPECT_EQ(U16::npos, path.find_last_of(u"/\\", 2));
    EXPECT_EQ(13u, path.rfind(u'.'));
    EXPECT_EQ(U16::npos, path.rfind(u'.', 12));
    EXPECT_EQ(9u, path.find(u"file"));
    EXPECT_EQ(9u, path.find(U16(u"file"), 9));
    EXPECT_EQ(U16::npos, path.find(u"file", 10));
    EXPECT_EQ(5u, path.find(u's'));

    // Equality is by length and units, so an embedded zero counts.
    const U16 withZero(u"ab\0c", 4);
    EXPECT_NE(U16(u"ab"), withZero);
    EXPECT_EQ(U16(u"ab\0c", 4), withZero);
    EXPECT_TRUE(U16(u"ab") < U16(u"abc"));
    EXPECT_TRUE(U16(u"abc") < U16(u"abd"));
    EXPECT_FALSE(U16(u"b") < U16(u"abc"));
    EXPECT_LT(U8("\x7f").compare(U8("\x80")), 0);
    EXPECT_TRUE(U16(u"same") == u"same");
    EXPECT_TRUE(u"same" != U16(u"other"));
}

}  // namespace
