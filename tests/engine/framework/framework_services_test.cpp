// The buffer pool, observers, the update counter and the persistent object list.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/framework/allocator.h"
#include "engine/framework/object_list.h"
#include "engine/framework/observer.h"

namespace tunefold {
namespace {

TEST(Allocator, ExactReusesOrFreesIdleFirst) {
    TMMAllocator pool;
    void* a = pool.AllocateExact(GHND, 100);
    void* b = pool.AllocateExact(GHND, 200);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    std::memset(a, 0x5A, 100);
    void* released = a;
    pool.ReleaseBlock(a);
    EXPECT_EQ(a, nullptr);
    EXPECT_EQ(pool.IdleCount(), 1u);

    void* again = pool.AllocateExact(GHND, 100);
    EXPECT_EQ(again, released) << "an idle block of the exact size is handed out again";
    EXPECT_EQ(static_cast<unsigned char*>(again)[99], 0) << "zero-fill holds for reused blocks too";

    pool.ReleaseBlock(again);
    pool.ReleaseBlock(b);
    void* c = pool.AllocateExact(GHND, 300); // no exact idle block: all idle ones go first
    EXPECT_EQ(pool.BlockCount(), 1u);
    pool.ReleaseBlock(c);

    int outside = 0;
    void* foreign = &outside;
    pool.ReleaseBlock(foreign);
    EXPECT_EQ(foreign, &outside) << "a pointer the pool does not know is left alone";
}

TEST(Allocator, FitPrefersExactThenLargerAndFreesNothing) {
    TMMAllocator pool;
    void* big = pool.AllocateFit(GHND, 4096);
    void* exact = pool.AllocateFit(GHND, 1024);
    void* const bigBlock = big;
    void* const exactBlock = exact;
    pool.ReleaseBlock(big);
    pool.ReleaseBlock(exact);
    void* got = pool.AllocateFit(GHND, 1024);
    EXPECT_EQ(got, exactBlock) << "an exact fit wins over the earlier, larger block";
    void* other = pool.AllocateFit(GHND, 2000);
    EXPECT_EQ(other, bigBlock) << "the 4096-byte block serves 2000 bytes";
    EXPECT_EQ(pool.BlockCount(), 2u);
    void* third = pool.AllocateFit(GHND, 10);
    EXPECT_EQ(pool.BlockCount(), 3u);
    pool.ReleaseBlock(third);
    pool.PurgeIdle();
    EXPECT_EQ(pool.BlockCount(), 2u);
    pool.ReleaseBlock(got);
    pool.ReleaseBlock(other);
    pool.FreeAllBlocks();
    EXPECT_EQ(pool.BlockCount(), 0u);
}

TEST(Observer, NotifiesLastAddedFirstAndHonoursLocks) {
    TMMObservable subject;
    std::vector<int> order;
    TMMObserver first, second, third;
    first.OnNotify = [&](TMMObserver*, void* data) { order.push_back(1 + *static_cast<int*>(data)); };
    second.OnNotify = [&](TMMObserver*, void*) { order.push_back(2); };
    third.OnNotify = [&](TMMObserver*, void*) { order.push_back(3); };
    subject.Add(&first);
    subject.Add(&second);
    subject.Add(&third);
    int zero = 0;
    subject.NotifyAll(&zero);
    EXPECT_EQ(order, (std::vector<int>{3, 2, 1}));

    order.clear();
    second.Lock();
    subject.NotifyAll(&zero);
    EXPECT_EQ(order, (std::vector<int>{3, 1}));
    second.Unlock();
    subject.Lock();
    subject.NotifyAll(&zero);
    EXPECT_TRUE(order.size() == 2);
    subject.Unlock();

    // Adding to another observable moves it; removing from the wrong one does nothing.
    TMMObservable other;
    other.Add(&third);
    EXPECT_EQ(subject.Count(), 2);
    EXPECT_EQ(third.Observable(), &other);
    subject.Remove(&third);
    EXPECT_EQ(third.Observable(), &other);
    {
        TMMObserver shortLived;
        subject.Add(&shortLived);
        EXPECT_EQ(subject.Count(), 3);
    }
    EXPECT_EQ(subject.Count(), 2) << "a destroyed observer detaches itself";
}

TEST(Observer, ObservableGoingFirstDetachesEveryone) {
    TMMObserver o;
    {
        TMMObservable subject;
        subject.Add(&o);
    }
    EXPECT_EQ(o.Observable(), nullptr);
}

class Counter : public TMMObject {
public:
    void Touch() {
        Changing();
        Changed();
    }
};

TEST(UpdateCounter, BurstIsReportedOnceAtTheEnd) {
    Counter c;
    int changing = 0, changed = 0;
    std::intptr_t seen = 0;
    c.OnChange = [&](TObject*) { ++changing; };
    c.SetOwnerCallback(
        [&](TMMObject*, std::intptr_t data) {
            ++changed;
            seen = data;
        },
        77);
    c.Touch();
    EXPECT_EQ(changing, 1);
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(seen, 77);

    c.BeginUpdate();
    c.BeginUpdate();
    c.Touch();
    c.Touch();
    c.EndUpdate();
    EXPECT_EQ(changed, 1);
    c.EndUpdate();
    EXPECT_EQ(changing, 2);
    EXPECT_EQ(changed, 2);
    c.EndUpdate(); // unbalanced: ignored
    EXPECT_EQ(c.UpdateCount(), 0);
}

// A small streamable object: one integer.
class Band : public TMMObject {
public:
    explicit Band(int v = 0) : value(v) {}
    std::string ClassName() const override { return "TTestBand"; }
    int value;
};

class ObjectListTest : public testing::Test {
protected:
    void SetUp() override {
        RegisterObjectClass(
            {"TTestBand", [] { return std::make_unique<Band>(); },
             [](TMMObject& o, TStream& s) { static_cast<Band&>(o).value = s.ReadValue<std::int32_t>(); },
             [](const TMMObject& o, TStream& s) {
                 s.WriteValue<std::int32_t>(static_cast<const Band&>(o).value);
             }});
    }
    void TearDown() override { UnregisterObjectClass("TTestBand"); }
};

TEST_F(ObjectListTest, StreamRoundTripAndLayout) {
    TObjectList list;
    EXPECT_FALSE(list.ShouldStore());
    for (int i = 0; i < 3; ++i) {
        list.Add(new Band(100 + i));
    }
    EXPECT_TRUE(list.ShouldStore());
    TMemoryStream stream;
    list.SaveToStream(stream);
    const auto& bytes = stream.Bytes();
    ASSERT_GE(bytes.size(), 7u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()), 4), std::string("OBJ\0", 4));
    EXPECT_EQ(bytes[4], 1);
    EXPECT_EQ(bytes[5] | (bytes[6] << 8), 3);
    EXPECT_EQ(bytes[7], 9); // "TTestBand"
    EXPECT_EQ(bytes.size(), 7u + 3 * (1 + 9 + 4));

    TObjectList copy;
    copy.Add(new Band(-1));
    stream.Seek(0);
    copy.LoadFromStream(stream);
    ASSERT_EQ(copy.Count(), 3);
    EXPECT_EQ(static_cast<Band*>(copy.Items(2))->value, 102);
}

TEST_F(ObjectListTest, StreamErrorsKeepTheListWhole) {
    TObjectList list;
    list.Add(new Band(5));

    TMemoryStream junk(std::vector<std::uint8_t>{'O', 'B', 'X', 0, 1, 0, 0});
    try {
        list.LoadFromStream(junk);
        FAIL();
    } catch (const EStreamError& e) {
        EXPECT_STREQ(e.what(), "Invalid Object stream");
    }

    TMemoryStream unknown(std::vector<std::uint8_t>{'O', 'B', 'J', 0, 1, 1, 0, 3, 'T', 'Z', 'Z'});
    try {
        list.LoadFromStream(unknown);
        FAIL();
    } catch (const EClassNotFound& e) {
        EXPECT_STREQ(e.what(), "Class <TZZ> not registered");
    }

    TMemoryStream truncated(std::vector<std::uint8_t>{'O', 'B', 'J', 0, 1, 2, 0, 9, 'T', 'T', 'e', 's', 't',
                                                      'B', 'a', 'n', 'd', 1, 2});
    EXPECT_THROW(list.LoadFromStream(truncated), EReadError);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(static_cast<Band*>(list.Items(0))->value, 5);

    class Stray : public TMMObject {
    public:
        std::string ClassName() const override { return "TStray"; }
    };
    TObjectList bad(false);
    Stray stray;
    bad.Add(&stray);
    TMemoryStream out;
    try {
        bad.SaveToStream(out);
        FAIL();
    } catch (const EClassNotFound& e) {
        EXPECT_STREQ(e.what(), "Source Class <TStray> not registered");
    }
    bad.Clear();
    bad.Add(nullptr);
    try {
        bad.SaveToStream(out);
        FAIL();
    } catch (const EClassNotFound& e) {
        EXPECT_STREQ(e.what(), "Nil Source Class!");
    }
}

TEST_F(ObjectListTest, IndexErrorsAndGrowth) {
    TObjectList list;
    std::vector<int> capacities;
    for (int i = 0; i < 40; ++i) {
        list.Add(new Band(i));
        if (capacities.empty() || capacities.back() != list.Capacity()) {
            capacities.push_back(list.Capacity());
        }
    }
    EXPECT_EQ(capacities, (std::vector<int>{4, 8, 16, 32, 48}));
    try {
        list.Items(40);
        FAIL();
    } catch (const EListError& e) {
        EXPECT_STREQ(e.what(), "List index out of bounds (40)");
    }
    EXPECT_THROW(list.Items(-1), EListError);
    EXPECT_THROW(list.Insert(41, nullptr), EListError);
    list.Insert(40, new Band(99)); // insertion allows the count
    EXPECT_EQ(list.Count(), 41);
    list.Move(40, 0);
    EXPECT_EQ(static_cast<Band*>(list.Items(0))->value, 99);
    list.Exchange(0, 1);
    EXPECT_EQ(static_cast<Band*>(list.Items(1))->value, 99);
    list.Delete(1);
    EXPECT_EQ(list.Count(), 40);
}

} // namespace
} // namespace tunefold
