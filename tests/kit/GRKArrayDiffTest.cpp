#include "kit/GRKArrayDiff.h"
#include "kit/VLArrayListModel.h"
#include "platform/Log.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

QVariantList letters(const QString &text)
{
    QVariantList list;
    for (QChar c : text)
        list.append(QString(c));
    return list;
}

QString ident(const QVariant &v)
{
    return v.toString();
}

QSet<GRKArrayDiffInfo> infos(std::initializer_list<GRKArrayDiffInfo> list)
{
    return QSet<GRKArrayDiffInfo>(list.begin(), list.end());
}

QVariantMap named(const QString &guid, const QString &name)
{
    return {{QStringLiteral("guid"), guid}, {QStringLiteral("name"), name}};
}

struct LogCapture {
    QStringList lines;
    LogCapture()
    {
        platform::setLogSink([this](const QString &line) { lines.append(line); });
    }
    ~LogCapture() { platform::setLogSink(nullptr); }
};

} // namespace

TEST(KitArrayDiff, WorkedExample)
{
    GRKArrayDiff diff(letters("ABCD"), letters("BDCE"), ident);
    EXPECT_EQ(diff.deletions(), infos({{"A", 0, std::nullopt}}));
    EXPECT_EQ(diff.insertions(), infos({{"E", std::nullopt, 3}}));
    EXPECT_EQ(diff.moves(), infos({{"D", 3, 1}, {"C", 2, 2}}));
    EXPECT_TRUE(diff.modifications().isEmpty());
}

TEST(KitArrayDiff, SimpleShapes)
{
    GRKArrayDiff same(letters("ABC"), letters("ABC"), ident);
    EXPECT_TRUE(same.deletions().isEmpty() && same.insertions().isEmpty() && same.moves().isEmpty()
                && same.modifications().isEmpty());

    GRKArrayDiff fromEmpty({}, letters("XY"), ident);
    EXPECT_EQ(fromEmpty.insertions(), infos({{"X", std::nullopt, 0}, {"Y", std::nullopt, 1}}));
    EXPECT_TRUE(fromEmpty.moves().isEmpty() && fromEmpty.deletions().isEmpty());

    GRKArrayDiff toEmpty(letters("XY"), {}, ident);
    EXPECT_EQ(toEmpty.deletions(), infos({{"X", 0, std::nullopt}, {"Y", 1, std::nullopt}}));

    GRKArrayDiff swap(letters("AB"), letters("BA"), ident);
    EXPECT_EQ(swap.moves(), infos({{"A", 0, 1}, {"B", 1, 0}}));
}

TEST(KitArrayDiff, ModifiedAndMovedIsInBothSets)
{
    const QVariantList before{named("1", "one"), named("2", "two")};
    const QVariantList after{named("2", "TWO"), named("1", "one")};
    GRKArrayDiff diff(
        before, after, [](const QVariant &v) { return v.toMap().value("guid").toString(); },
        [](const QVariant &a, const QVariant &b) { return a.toMap()["name"] != b.toMap()["name"]; });
    EXPECT_TRUE(diff.moves().contains({"2", 1, 0}));
    EXPECT_EQ(diff.modifications(), infos({{"2", 1, 0}}));
    const QList<GRKIndexPath> paths = diff.indexPathsForDiffTypeWithSection(GRKArrayDiff::Modifications, 4);
    ASSERT_EQ(paths.size(), 1);
    EXPECT_EQ(paths.first(), (GRKIndexPath{4, 0}));
}

TEST(KitArrayDiff, DefaultIdentityIsTheValueNotAHash)
{
    // Equal values match without an identity block; different ones never do.
    GRKArrayDiff diff(QVariantList{1, 2, QString("2")}, QVariantList{QString("2"), 2, 1});
    EXPECT_TRUE(diff.deletions().isEmpty());
    EXPECT_TRUE(diff.insertions().isEmpty());
    EXPECT_EQ(diff.moves().size(), 2); // 1 and "2" moved, 2 stayed
    EXPECT_NE(GRKArrayDiff::identityOf(1, {}), GRKArrayDiff::identityOf(QString("1"), {}));
}

TEST(KitArrayDiff, InfoEqualityIsByValue)
{
    GRKArrayDiffInfo a("X", 1, 2);
    GRKArrayDiffInfo b("X", 1, 2);
    GRKArrayDiffInfo c("X", 2, 1);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a.hash(), b.hash());
    EXPECT_FALSE(a == c);
    EXPECT_EQ(infos({a, b, c}).size(), 2);
    // Nil values count as 31 in the mix; the hash is stable for equal entries.
    EXPECT_EQ(GRKArrayDiffInfo("Y", std::nullopt, 0).hash(),
              GRKArrayDiffInfo("Y", std::nullopt, 0).hash());
    EXPECT_TRUE(a.description().contains("identity 'X', previousIndex '1', currentIndex '2'"));
    EXPECT_TRUE(GRKArrayDiffInfo("Z", std::nullopt, 3).description().contains("previousIndex '(null)'"));
}

TEST(KitArrayDiff, UnhandledTypesLogAndAnswerNothing)
{
    LogCapture log;
    GRKArrayDiffInfo info("X", 1, 2);
    EXPECT_FALSE(info.valueForIndexType(2).has_value());
    EXPECT_FALSE(info.indexPathForIndexTypeWithSection(GRKArrayDiffInfo::Previous, 0) == std::nullopt);
    GRKArrayDiff diff(letters("AB"), letters("B"), ident);
    EXPECT_EQ(diff.diffInfoSetForType(4), nullptr);
    EXPECT_TRUE(diff.indexPathsForDiffTypeWithSection(5, 0).isEmpty());
    ASSERT_GE(log.lines.size(), 3);
    EXPECT_EQ(log.lines[0], "[ERROR] GRKArrayDiffInfo: Unhandled case (2) for `valueForIndexType:`");
    EXPECT_EQ(log.lines[1], "[ERROR] GRKArrayDiff: Unhandled case (4) for `diffInfoSetForType:`");
}

TEST(KitArrayDiff, DeletionPathsUsePreviousIndexes)
{
    GRKArrayDiff diff(letters("ABC"), letters("C"), ident);
    QList<GRKIndexPath> paths = diff.indexPathsForDiffTypeWithSection(GRKArrayDiff::Deletions, 0);
    std::sort(paths.begin(), paths.end(), [](auto a, auto b) { return a.item < b.item; });
    EXPECT_EQ(paths, (QList<GRKIndexPath>{{0, 0}, {0, 1}}));
}

TEST(KitArrayDiffModel, WorkedExampleOnAListModel)
{
    VLArrayListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.setItems(letters("ABCD"));
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy moved(&model, &QAbstractItemModel::rowsMoved);

    GRKArrayDiff diff(letters("ABCD"), letters("BDCE"), ident);
    int completions = 0;
    diff.updateCollectionView(model, 0, [&] { ++completions; });
    EXPECT_EQ(model.items(), letters("BDCE"));
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(resets.size(), 0);
    EXPECT_EQ(removed.size(), 1);
    EXPECT_EQ(inserted.size(), 1);
    EXPECT_GE(moved.size(), 1);
    EXPECT_EQ(model.data(model.index(1)).toString(), "D");
}

TEST(KitArrayDiffModel, ManySnapshotsReachEveryTarget)
{
    // A run of shuffles, inserts and removals: the model always ends equal.
    VLArrayListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QVariantList previous = letters("ABCDEFGH");
    model.setItems(previous);
    const QStringList targets = {"HGFEDCBA", "AHBGCFDE", "XAYBZ", "", "QRS", "SQRT", "TSRQ", "ABCDEFGHIJ"};
    for (const QString &t : targets) {
        QVariantList next = letters(t);
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        GRKArrayDiff(previous, next, ident).updateCollectionView(model, 0);
        EXPECT_EQ(model.items(), next) << t.toStdString();
        EXPECT_EQ(resets.size(), 0) << t.toStdString();
        previous = next;
    }
}

TEST(KitArrayDiffModel, ModificationsReloadRowsInPlace)
{
    VLArrayListModel model;
    const QVariantList before{named("1", "one"), named("2", "two"), named("3", "three")};
    const QVariantList after{named("3", "three"), named("1", "uno"), named("2", "two")};
    model.setItems(before);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    GRKArrayDiff diff(
        before, after, [](const QVariant &v) { return v.toMap().value("guid").toString(); },
        [](const QVariant &a, const QVariant &b) { return a.toMap()["name"] != b.toMap()["name"]; });
    diff.updateCollectionView(model, 0);
    EXPECT_EQ(model.items(), after);
    ASSERT_EQ(changed.size(), 1);
    EXPECT_EQ(changed.first().first().value<QModelIndex>().row(), 1);
    EXPECT_EQ(model.data(model.index(1)).toString(), "uno");
}

TEST(KitArrayDiffModel, RepeatedIdentitiesOrAStaleModelReloadEverything)
{
    VLArrayListModel model;
    model.setItems(letters("ABA"));
    GRKArrayDiff repeated(letters("ABA"), letters("BAA"), ident);
    EXPECT_TRUE(repeated.hasRepeatedIdentities());
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    int completions = 0;
    repeated.updateCollectionView(model, 0, [&] { ++completions; });
    EXPECT_EQ(model.items(), letters("BAA"));
    EXPECT_EQ(resets.size(), 1);
    EXPECT_EQ(completions, 1);

    // The model no longer shows the diff's previous array.
    model.setItems(letters("XYZ"));
    GRKArrayDiff stale(letters("ABC"), letters("CB"), ident);
    stale.updateCollectionView(model, 0);
    EXPECT_EQ(model.items(), letters("CB"));
}

TEST(KitArrayDiffModel, EqualArraysChangeNothingButComplete)
{
    VLArrayListModel model;
    model.setItems(letters("ABC"));
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy moved(&model, &QAbstractItemModel::rowsMoved);
    int completions = 0;
    GRKArrayDiff(letters("ABC"), letters("ABC"), ident).updateCollectionView(model, 0, [&] { ++completions; });
    EXPECT_EQ(changed.size(), 0);
    EXPECT_EQ(moved.size(), 0);
    EXPECT_EQ(completions, 1);
}
