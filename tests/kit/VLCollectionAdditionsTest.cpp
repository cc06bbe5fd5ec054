#include "kit/VLCollectionAdditions.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <memory>

using NSMutableArrayVLExtras::moveIndexToIndex;

namespace {
QStringList letters()
{
    return {"a", "b", "c", "d", "e"};
}
} // namespace

TEST(KitCollectionAdditions, MovesMatchAListMove)
{
    QStringList list = letters();
    moveIndexToIndex(list, 0, 3);
    EXPECT_EQ(list, QStringList({"b", "c", "d", "a", "e"}));
    list = letters();
    moveIndexToIndex(list, 4, 1);
    EXPECT_EQ(list, QStringList({"a", "e", "b", "c", "d"}));
    list = letters();
    moveIndexToIndex(list, 2, 3);
    EXPECT_EQ(list, QStringList({"a", "b", "d", "c", "e"}));
    list = letters();
    moveIndexToIndex(list, 3, 2);
    EXPECT_EQ(list, QStringList({"a", "b", "d", "c", "e"}));

    // Out of range or equal: nothing happens (no assertion as QList::move has).
    for (auto [from, to] : {std::pair{5, 1}, {1, 5}, {-1, 2}, {2, 2}}) {
        list = letters();
        moveIndexToIndex(list, from, to);
        EXPECT_EQ(list, letters());
    }

    // Every valid pair agrees with QList::move.
    for (int from = 0; from < 5; ++from) {
        for (int to = 0; to < 5; ++to) {
            QStringList ours = letters(), theirs = letters();
            moveIndexToIndex(ours, from, to);
            theirs.move(from, to);
            EXPECT_EQ(ours, theirs) << from << "->" << to;
        }
    }

    // Move-only elements move without copies.
    QList<std::shared_ptr<int>> owned{std::make_shared<int>(1), std::make_shared<int>(2), std::make_shared<int>(3)};
    moveIndexToIndex(owned, 0, 2);
    EXPECT_EQ(*owned[2], 1);
    EXPECT_EQ(owned[2].use_count(), 1);
}

TEST(KitCollectionAdditions, ArrayBlocks)
{
    using namespace NSArrayCollectionsAdditions;
    const QList<int> numbers{1, 2, 3, 4, 5};
    EXPECT_EQ(select(numbers, [](int n) { return n % 2; }), (QList<int>{1, 3, 5}));
    EXPECT_EQ(vl_select(numbers, [](int n) { return n > 3; }), (QList<int>{4, 5}));
    EXPECT_EQ(map(numbers, [](int n) { return QString::number(n * n); }),
              QStringList({"1", "4", "9", "16", "25"}));
    EXPECT_EQ(vl_map(QList<int>{}, [](int n) { return n; }).size(), 0);

    int visited = 0;
    EXPECT_EQ(vl_match(numbers, [&](int n) { ++visited; return n > 1; }), 2);
    EXPECT_EQ(visited, 2); // stops at the first match
    EXPECT_FALSE(vl_match(numbers, [](int n) { return n > 9; }).has_value());

    EXPECT_EQ(vl_reduce(numbers, 0, [](int sum, int n) { return sum + n; }), 15);
    EXPECT_EQ(vl_reduce(QList<int>{}, QString("start"), [](QString s, int) { return s + "x"; }), "start");

    // A block that changes the original does not upset the walk.
    QList<int> growing{1, 2, 3};
    QList<int> seen;
    doEach(growing, [&](int n) {
        seen << n;
        growing << n * 10;
    });
    EXPECT_EQ(seen, (QList<int>{1, 2, 3}));
    EXPECT_EQ(growing.size(), 6);
}

TEST(KitCollectionAdditions, SetBlocks)
{
    using namespace NSSetTQCollectionUtilities;
    const QSet<int> numbers{1, 2, 3, 4, 5, 6};
    EXPECT_EQ(vl_map(numbers, [](int n) { return n % 3; }), (QSet<int>{0, 1, 2})); // equal results collapse
    EXPECT_EQ(vl_select(numbers, [](int n) { return n > 4; }), (QSet<int>{5, 6}));
    const auto match = vl_match(numbers, [](int n) { return n % 2 == 0; });
    ASSERT_TRUE(match.has_value());
    EXPECT_EQ(*match % 2, 0);
    EXPECT_FALSE(vl_match(numbers, [](int n) { return n > 6; }).has_value());
}
