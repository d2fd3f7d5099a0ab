#include <gtest/gtest.h>

#include <stdint.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "callback_table.h"

namespace {

void __stdcall CallbackA(unsigned long, void*) {}
void __stdcall CallbackB(unsigned long, void*) {}

void* Ctx(uintptr_t v) { return reinterpret_cast<void*>(v); }

// Ids visited by a walk over the table, as the delivery thread walks it.
std::vector<uint32_t> Walk(const qebi::CallbackTable& t, uint32_t upTo) {
    std::vector<uint32_t> ids;
    qebi::Registration r;
    uint32_t after = 0;
    while (t.Next(after, upTo, &r)) {
        ids.push_back(r.id);
        after = r.id;
    }
    return ids;
}

TEST(QebiDllCallbackTable, AddGivesIncreasingIds) {
    qebi::CallbackTable t;
    uint32_t a = 0, b = 0, c = 0;
    ASSERT_EQ(qebi::CallbackTable::kAdded, t.Add(CallbackA, Ctx(1), &a));
    ASSERT_EQ(qebi::CallbackTable::kAdded, t.Add(CallbackB, Ctx(1), &b));
    ASSERT_EQ(qebi::CallbackTable::kAdded, t.Add(CallbackA, Ctx(2), &c));
    EXPECT_EQ(1u, a);
    EXPECT_EQ(2u, b);
    EXPECT_EQ(3u, c);
    EXPECT_EQ(3u, t.Count());
    EXPECT_EQ(3u, t.LastId());
}

TEST(QebiDllCallbackTable, RefusesNullAndDuplicatePairs) {
    qebi::CallbackTable t;
    ASSERT_EQ(qebi::CallbackTable::kAdded, t.Add(CallbackA, Ctx(1), nullptr));
    EXPECT_EQ(qebi::CallbackTable::kInvalid, t.Add(nullptr, Ctx(1), nullptr));
    EXPECT_EQ(qebi::CallbackTable::kDuplicate, t.Add(CallbackA, Ctx(1), nullptr));
    EXPECT_EQ(1u, t.Count());
}

TEST(QebiDllCallbackTable, SameCallbackWithAnotherContextIsAnotherRegistration) {
    qebi::CallbackTable t;
    ASSERT_EQ(qebi::CallbackTable::kAdded, t.Add(CallbackA, Ctx(1), nullptr));
    EXPECT_EQ(qebi::CallbackTable::kAdded, t.Add(CallbackA, nullptr, nullptr));
    EXPECT_TRUE(t.Contains(CallbackA, nullptr));
    EXPECT_FALSE(t.Contains(CallbackB, Ctx(1)));
}

TEST(QebiDllCallbackTable, FullTableRefuses) {
    qebi::CallbackTable t;
    for (uintptr_t i = 0; i < qebi::CallbackTable::kCapacity; ++i) {
        ASSERT_EQ(qebi::CallbackTable::kAdded, t.Add(CallbackA, Ctx(i), nullptr)) << i;
    }
    EXPECT_EQ(qebi::CallbackTable::kFull, t.Add(CallbackB, Ctx(0), nullptr));
    ASSERT_TRUE(t.Remove(CallbackA, Ctx(5), nullptr));
    EXPECT_EQ(qebi::CallbackTable::kAdded, t.Add(CallbackB, Ctx(0), nullptr));
}

TEST(QebiDllCallbackTable, RemoveReportsTheIdAndKeepsOrder) {
    qebi::CallbackTable t;
    t.Add(CallbackA, Ctx(1), nullptr);
    t.Add(CallbackA, Ctx(2), nullptr);
    t.Add(CallbackA, Ctx(3), nullptr);
    uint32_t id = 0;
    ASSERT_TRUE(t.Remove(CallbackA, Ctx(2), &id));
    EXPECT_EQ(2u, id);
    EXPECT_EQ((std::vector<uint32_t>{1, 3}), Walk(t, t.LastId()));
    EXPECT_FALSE(t.Remove(CallbackA, Ctx(2), &id)) << "second removal of the same pair";
    EXPECT_FALSE(t.Remove(CallbackB, Ctx(1), &id)) << "pair never registered";
}

TEST(QebiDllCallbackTable, IdsAreNotReusedAfterRemoval) {
    qebi::CallbackTable t;
    t.Add(CallbackA, Ctx(1), nullptr);
    t.Remove(CallbackA, Ctx(1), nullptr);
    uint32_t id = 0;
    t.Add(CallbackA, Ctx(1), &id);
    EXPECT_EQ(2u, id);
}

TEST(QebiDllCallbackTable, WalkStopsAtTheLimit) {
    qebi::CallbackTable t;
    for (uintptr_t i = 1; i <= 4; ++i) t.Add(CallbackA, Ctx(i), nullptr);
    EXPECT_EQ((std::vector<uint32_t>{1, 2}), Walk(t, 2));
    EXPECT_EQ((std::vector<uint32_t>{}), Walk(t, 0));
}

// Changes between two steps of a walk: a removed entry is skipped, an entry
// added after the walk began is left for the next event.
TEST(QebiDllCallbackTable, WalkSeesChangesMadeBetweenSteps) {
    qebi::CallbackTable t;
    for (uintptr_t i = 1; i <= 4; ++i) t.Add(CallbackA, Ctx(i), nullptr);
    uint32_t upTo = t.LastId();
    qebi::Registration r;
    ASSERT_TRUE(t.Next(0, upTo, &r));
    EXPECT_EQ(1u, r.id);
    EXPECT_EQ(Ctx(1), r.context);
    t.Remove(CallbackA, Ctx(1), nullptr);  // the running one unregisters itself
    t.Remove(CallbackA, Ctx(2), nullptr);  // and the next one
    t.Add(CallbackB, Ctx(9), nullptr);     // and registers another
    std::vector<uint32_t> rest;
    uint32_t after = r.id;
    while (t.Next(after, upTo, &r)) {
        rest.push_back(r.id);
        after = r.id;
    }
    EXPECT_EQ((std::vector<uint32_t>{3, 4}), rest);
}

TEST(QebiDllCallbackTable, ClearEmptiesButIdsGoOn) {
    qebi::CallbackTable t;
    t.Add(CallbackA, Ctx(1), nullptr);
    t.Add(CallbackA, Ctx(2), nullptr);
    t.Clear();
    EXPECT_EQ(0u, t.Count());
    EXPECT_FALSE(t.Contains(CallbackA, Ctx(1)));
    uint32_t id = 0;
    t.Add(CallbackA, Ctx(1), &id);
    EXPECT_EQ(3u, id);
}

std::wstring Hex(uintptr_t v) {
    wchar_t b[32];
    swprintf(b, 32, sizeof(void*) == 8 ? L"0x%016llX" : L"0x%08llX", static_cast<unsigned long long>(v));
    return b;
}

TEST(QebiDllNote, VerbAndBothAddresses) {
    wchar_t out[96];
    void* cb = reinterpret_cast<void*>(static_cast<uintptr_t>(0x1234ABCD));
    size_t n = qebi::FormatRegistrationNote(out, 96, L"register", cb, Ctx(0x42));
    std::wstring expected = L"register callback=" + Hex(0x1234ABCD) + L" context=" + Hex(0x42);
    EXPECT_EQ(expected, std::wstring(out));
    EXPECT_EQ(expected.size(), n);
}

TEST(QebiDllNote, TruncatesToCapacity) {
    wchar_t out[12];
    for (wchar_t& c : out) c = L'#';
    size_t n = qebi::FormatRegistrationNote(out, 10, L"unregister", nullptr, nullptr);
    EXPECT_EQ(9u, n);
    EXPECT_EQ(std::wstring(L"unregiste"), std::wstring(out));
    EXPECT_EQ(L'#', out[10]) << "wrote past the capacity";
}

TEST(QebiDllNote, ZeroCapacityWritesNothing) {
    wchar_t out[2] = {L'#', L'#'};
    EXPECT_EQ(0u, qebi::FormatRegistrationNote(out, 0, L"register", nullptr, nullptr));
    EXPECT_EQ(L'#', out[0]);
}

}  // namespace
