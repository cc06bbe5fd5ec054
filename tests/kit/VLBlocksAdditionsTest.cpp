#include "kit/VLBlockAdditions.h"
#include "kit/VLBlocksAdditions.h"
#include "platform/ObjectStoreTestModel.h"
#include "platform/objectstore/PersistentStore.h"

#include <QThread>

#include <gtest/gtest.h>

using namespace platform;
using namespace storetest;
using namespace VLBlocksAdditions;

namespace {

struct Fixture {
    std::shared_ptr<const ManagedObjectModel> model = makeModel();
    std::shared_ptr<PersistentStore> store = PersistentStore::openInMemory(model);
    ManagedObjectContext context{model};
    QList<Shelf *> shelves;

    Fixture()
    {
        context.attachStore(store);
        for (const char *name : {"b", "a", "c", "a"}) {
            auto *s = context.insert<Shelf>();
            s->setName(QString::fromLatin1(name));
            shelves.append(s);
        }
    }
};

PredicateBlock named(const QString &name)
{
    return [name] {
        return Predicate([name](const ManagedObject &o) { return static_cast<const Shelf &>(o).name() == name; });
    };
}

} // namespace

TEST(VLBlocksAdditionsFetch, FetchOneAnswersTheLastOfTheUnsortedResult)
{
    Fixture f;
    EXPECT_EQ(fetchOneObjectOfEntityNamed(f.context, "Shelf", named("a")), f.shelves[3]);
    EXPECT_EQ(fetchOneObjectOfEntityNamed(f.context, "Shelf", named("zzz")), nullptr);
    EXPECT_EQ(fetchOneObjectOfEntityNamed(f.context, "Shelf", PredicateBlock()), f.shelves[3]);
    // The sorted form limits to one first.
    EXPECT_EQ(fetchOneObjectOfEntityNamed(f.context, "Shelf", {{"name", false}}, PredicateBlock()), f.shelves[2]);
    EXPECT_EQ(fetchOne<Shelf>(f.context, named("b")), f.shelves[0]);
}

TEST(VLBlocksAdditionsFetch, LimitsOfZeroOrLessFetchEverything)
{
    Fixture f;
    EXPECT_EQ(fetchObjectsOfEntityNamed(f.context, "Shelf", {}, PredicateBlock(), 0).size(), 4);
    EXPECT_EQ(fetchObjectsOfEntityNamed(f.context, "Shelf", {}, PredicateBlock(), -3).size(), 4);
    EXPECT_EQ(fetchObjectsOfEntityNamed(f.context, "Shelf", {}, PredicateBlock(), 2).size(), 2);
    const auto sorted = fetchObjectsOfEntityNamed(f.context, "Shelf", {{"name"}}, named("a"));
    EXPECT_EQ(sorted.size(), 2);
}

TEST(VLBlocksAdditionsFetch, ABlockAnsweringNoPredicateMatchesAll)
{
    Fixture f;
    int calls = 0;
    const PredicateBlock empty = [&] {
        ++calls;
        return Predicate();
    };
    EXPECT_EQ(fetchObjectsOfEntityNamed(f.context, "Shelf", empty).size(), 4);
    EXPECT_EQ(countObjectsOfEntityNamed(f.context, "Shelf", empty), 4);
    EXPECT_EQ(calls, 2) << "the block runs once per fetch";
    EXPECT_EQ(countObjectsOfEntityNamed(f.context, "Shelf", named("a")), 2);
    EXPECT_EQ(countObjectsOfEntityNamed(f.context, "Book", PredicateBlock()), 0);
}

TEST(VLBlocksAdditionsFetch, ObjectFormsUseTheObjectsEntityAndContext)
{
    Fixture f;
    f.context.insert<Book>();
    EXPECT_EQ(VLBlockAdditions::countObjectsWithPredicateBlock(*f.shelves[0], named("a")), 2);
    EXPECT_EQ(VLBlockAdditions::objectsWithPredicateBlock(*f.shelves[0], PredicateBlock()).size(), 4);
}

TEST(VLBlocksAdditionsChild, ANewChildIsAPrivateQueueContextOfItsParent)
{
    Fixture f;
    auto child = newChildContext(f.context);
    ASSERT_TRUE(child);
    EXPECT_EQ(child->parentContext(), &f.context);
    EXPECT_EQ(child->concurrencyType(), ManagedObjectContext::ConcurrencyType::PrivateQueue);
    EXPECT_EQ(child->undoManager(), nullptr);
    qsizetype seen = 0;
    bool elsewhere = false;
    child->performAndWait([&] {
        seen = countObjectsOfEntityNamed(*child, "Shelf", named("a"));
        elsewhere = QThread::currentThread() != f.context.thread();
    });
    EXPECT_EQ(seen, 2);
    EXPECT_TRUE(elsewhere);
}
