#include "ObjectStoreTestModel.h"

#include "platform/objectstore/ManagedObjectContext.h"
#include "platform/objectstore/PersistentStore.h"
#include "platform/objectstore/SqliteDatabase.h"
#include "platform/objectstore/SqliteStatement.h"
#include "platform/objectstore/TextMatching.h"
#include "platform/objectstore/UndoManager.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QSignalSpy>
#include <QThread>
#include <QTimeZone>
#include <QUuid>

#include <gtest/gtest.h>

#include <thread>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace platform;
using namespace storetest;

namespace {

QString freshPath(const QString &name = QStringLiteral("store.db"))
{
    const QString dir = testsupport::scratchDir() + '/' + QUuid::createUuid().toString(QUuid::Id128);
    QDir().mkpath(dir);
    return dir + '/' + name;
}

struct Opened {
    std::shared_ptr<PersistentStore> store;
    std::unique_ptr<ManagedObjectContext> context;
};

Opened openStore(const QString &path, int version = 2)
{
    Opened o;
    auto model = makeModel(version);
    Error error;
    o.store = PersistentStore::openSQLite(path, model, &error);
    EXPECT_TRUE(o.store) << error.description.toStdString();
    o.context = std::make_unique<ManagedObjectContext>(model);
    if (o.store) {
        EXPECT_TRUE(o.context->attachStore(o.store, &error)) << error.description.toStdString();
    }
    return o;
}

template <class T> QList<T *> all(ManagedObjectContext &context)
{
    return context.fetchObjects<T>();
}

Shelf *shelfNamed(ManagedObjectContext &context, const QString &name)
{
    const auto found = context.fetchObjects<Shelf>([name](const ManagedObject &o) {
        return static_cast<const Shelf &>(o).name() == name;
    });
    return found.isEmpty() ? nullptr : found.first();
}

} // namespace

TEST(ObjectStoreBasics, SavedValuesAndLinksComeBackAfterReopening)
{
    const QString path = freshPath();
    const QDateTime made = QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7, 890), QTimeZone::utc());
    const QByteArray blob("\x00\x01\x02 bytes", 9);
    {
        Opened o = openStore(path);
        auto *shelf = o.context->insert<Shelf>();
        shelf->setName(QStringLiteral("Oak é"));
        shelf->setCount(std::numeric_limits<qint64>::max());
        shelf->setRatio(0.125);
        shelf->setOpen(false);
        shelf->setMade(made);
        shelf->setBlob(blob);
        auto *empty = o.context->insert<Shelf>();
        empty->setName(QString()); // nil stays nil
        auto *a = o.context->insert<Book>();
        a->setTitle(QStringLiteral("A"));
        a->setShelf(shelf);
        auto *b = o.context->insert<Book>();
        b->setTitle(QString(""));
        shelf->addToMany(Shelf::Books, b);
        auto *label = o.context->insert<Label>();
        label->setName(QStringLiteral("red"));
        a->addToMany(Book::Labels, label);
        EXPECT_TRUE(o.context->hasChanges());
        Error error;
        ASSERT_TRUE(o.context->save(&error)) << error.description.toStdString();
        EXPECT_FALSE(o.context->hasChanges());
    }
    Opened o = openStore(path);
    ASSERT_EQ(all<Shelf>(*o.context).size(), 2);
    Shelf *shelf = shelfNamed(*o.context, QStringLiteral("Oak é"));
    ASSERT_TRUE(shelf);
    EXPECT_EQ(shelf->fetchedCount, 1);
    EXPECT_EQ(shelf->count(), std::numeric_limits<qint64>::max());
    EXPECT_EQ(shelf->ratio(), 0.125);
    EXPECT_EQ(shelf->open(), false);
    EXPECT_EQ(shelf->made(), made);
    EXPECT_EQ(shelf->blob(), blob); // lazy column, read on demand
    EXPECT_EQ(shelf->value(Shelf::Scratch), QVariant(true)) << "transient default after a fetch";
    Shelf *empty = shelfNamed(*o.context, QString());
    ASSERT_TRUE(empty);
    EXPECT_FALSE(empty->value(Shelf::Name).isValid());
    EXPECT_FALSE(empty->count().has_value());
    EXPECT_TRUE(empty->blob().isNull());

    ASSERT_EQ(shelf->books().size(), 2);
    QStringList titles;
    for (ManagedObject *m : shelf->books()) {
        auto *book = static_cast<Book *>(m);
        titles << book->title();
        EXPECT_EQ(book->shelf(), shelf);
        EXPECT_TRUE(book->saved().isValid()) << "willSave stamped it";
        EXPECT_EQ(book->value(Book::Rating), QVariant(qint64(3))) << "default value stored";
    }
    titles.sort();
    EXPECT_EQ(titles, (QStringList{QString(""), QStringLiteral("A")}));
    const auto labels = all<Label>(*o.context);
    ASSERT_EQ(labels.size(), 1);
    ASSERT_EQ(labels.first()->books().size(), 1);
    EXPECT_EQ(static_cast<Book *>(labels.first()->books().first())->title(), QStringLiteral("A"));
    EXPECT_FALSE(o.context->hasChanges());
}

TEST(ObjectStoreBasics, FetchFiltersSortsLimitsAndSeesUnsavedInserts)
{
    Opened o = openStore(freshPath());
    for (const char *name : {"b", "C", "a", "d"}) {
        auto *s = o.context->insert<Shelf>();
        s->setName(QString::fromLatin1(name));
    }
    auto byName = [](bool ci) { return QList<SortDescriptor>{{QStringLiteral("name"), true, ci}}; };
    auto names = [](const QList<Shelf *> &list) {
        QStringList out;
        for (Shelf *s : list)
            out << s->name();
        return out;
    };
    EXPECT_EQ(names(o.context->fetchObjects<Shelf>({}, byName(false))), (QStringList{"C", "a", "b", "d"}));
    EXPECT_EQ(names(o.context->fetchObjects<Shelf>({}, byName(true))), (QStringList{"a", "b", "C", "d"}));
    EXPECT_EQ(names(o.context->fetchObjects<Shelf>({}, {{QStringLiteral("name"), false, true}}, 2)), (QStringList{"d", "C"}));
    EXPECT_EQ(names(o.context->fetchObjects<Shelf>({}, {}, 2)), (QStringList{"b", "C"})) << "insertion order";
    const Predicate notA = [](const ManagedObject &m) { return static_cast<const Shelf &>(m).name() != "a"; };
    EXPECT_EQ(o.context->count({Shelf::entityName(), notA}), 3);
    o.context->deleteObject(shelfNamed(*o.context, "b"));
    EXPECT_EQ(o.context->count({Shelf::entityName(), notA}), 2);
    EXPECT_EQ(o.context->count({QStringLiteral("NoSuchEntity")}), 0);
}

TEST(ObjectStoreBasics, ObjectsAreFoundByIDAndByURI)
{
    const QString path = freshPath();
    QString uri;
    ObjectID id;
    {
        Opened o = openStore(path);
        auto *shelf = o.context->insert<Shelf>();
        id = shelf->objectID();
        uri = shelf->uriRepresentation();
        EXPECT_EQ(o.context->objectWithID(id), shelf);
        EXPECT_EQ(o.context->objectWithURI(uri), shelf);
        ASSERT_TRUE(o.context->save());
    }
    Opened o = openStore(path);
    ManagedObject *again = o.context->objectWithURI(uri);
    ASSERT_TRUE(again) << "IDs and URIs survive a reopen";
    EXPECT_EQ(again->objectID(), id);
    EXPECT_FALSE(o.context->objectWithURI(QStringLiteral("x-kantelo-object://other/Shelf/p1")));
    EXPECT_FALSE(o.context->objectWithURI(QStringLiteral("garbage")));
    EXPECT_FALSE(o.context->objectWithURI(uri.replace("/Shelf/", "/Nope/")));
    o.context->deleteObject(again);
    EXPECT_FALSE(o.context->objectWithID(id));
}

TEST(ObjectStoreRelationships, DeleteRulesCascadeAndNullify)
{
    const QString path = freshPath();
    {
        Opened o = openStore(path);
        auto *shelf = o.context->insert<Shelf>();
        shelf->setName(QStringLiteral("gone"));
        auto *keep = o.context->insert<Shelf>();
        keep->setName(QStringLiteral("kept"));
        auto *b1 = o.context->insert<Book>();
        auto *b2 = o.context->insert<Book>();
        auto *b3 = o.context->insert<Book>();
        b1->setShelf(shelf);
        b2->setShelf(shelf);
        b3->setShelf(keep);
        auto *label = o.context->insert<Label>();
        label->addToMany(Label::BooksRel, b1);
        label->addToMany(Label::BooksRel, b3);
        ASSERT_TRUE(o.context->save());

        o.context->deleteObject(shelf); // cascades to b1, b2; b1 leaves the label
        EXPECT_TRUE(b1->isDeleted());
        EXPECT_TRUE(b2->isDeleted());
        EXPECT_FALSE(b3->isDeleted());
        EXPECT_EQ(label->books(), QList<ManagedObject *>{b3});
        o.context->deleteObject(b3); // nullify: the shelf stays, without it
        EXPECT_FALSE(keep->isDeleted());
        EXPECT_TRUE(keep->books().isEmpty());
        EXPECT_TRUE(label->books().isEmpty());
        ASSERT_TRUE(o.context->save());
    }
    Opened o = openStore(path);
    EXPECT_EQ(all<Book>(*o.context).size(), 0);
    ASSERT_EQ(all<Shelf>(*o.context).size(), 1);
    EXPECT_EQ(all<Shelf>(*o.context).first()->name(), QStringLiteral("kept"));
    ASSERT_EQ(all<Label>(*o.context).size(), 1);
    EXPECT_TRUE(all<Label>(*o.context).first()->books().isEmpty());
    // No join rows left behind.
    SqliteDatabase db;
    ASSERT_TRUE(db.open(path, false));
    SqliteStatement st(db, QStringLiteral("SELECT count(*) FROM Book_labels"));
    ASSERT_TRUE(st.step());
    EXPECT_EQ(st.int64At(0), 0);
}

// Each call answers its own failure in SQLite's code and words; nothing
// from an earlier one is carried along.
TEST(SqliteDatabase, FailuresAreErrorsOfTheCallThatFailed)
{
    SqliteDatabase db;
    Error error;
    EXPECT_FALSE(db.open(freshPath() + "/missing/store.db", false, false, &error));
    EXPECT_EQ(error.domain, kSqliteErrorDomain);
    EXPECT_FALSE(error.description.isEmpty());
    ASSERT_TRUE(db.open(":memory:", true));
    EXPECT_FALSE(db.exec("SELECT * FROM nowhere", &error));
    EXPECT_TRUE(error.description.contains("no such table: nowhere")) << error.description.toStdString();

    ASSERT_TRUE(db.exec("CREATE TABLE t (v INTEGER NOT NULL)"));
    SqliteStatement insert(db, "INSERT INTO t (v) VALUES (?1)");
    insert.bindNull(1);
    EXPECT_FALSE(insert.run(&error));
    EXPECT_TRUE(error.description.contains("NOT NULL")) << error.description.toStdString();
    insert.bindInt64(1, 1);
    EXPECT_TRUE(insert.run());
    EXPECT_TRUE(insert.error().isNull());
    SqliteStatement bad(db, "SELECT * FROM elsewhere");
    EXPECT_FALSE(bad.run(&error));
    EXPECT_TRUE(error.description.contains("no such table: elsewhere")) << error.description.toStdString();
}

TEST(ObjectStoreRelationships, ManyToManyStaysInStepFromEitherEnd)
{
    const QString path = freshPath();
    {
        Opened o = openStore(path);
        auto *x = o.context->insert<Book>();
        x->setTitle("x");
        auto *y = o.context->insert<Book>();
        y->setTitle("y");
        auto *red = o.context->insert<Label>();
        red->setName("red");
        auto *blue = o.context->insert<Label>();
        blue->setName("blue");
        x->addToMany(Book::Labels, red);
        blue->addToMany(Label::BooksRel, x);
        blue->addToMany(Label::BooksRel, y);
        blue->addToMany(Label::BooksRel, y); // twice is once
        EXPECT_EQ(x->labels().size(), 2);
        EXPECT_EQ(y->labels(), QList<ManagedObject *>{blue});
        EXPECT_EQ(red->books(), QList<ManagedObject *>{x});
        ASSERT_TRUE(o.context->save());
        x->removeFromMany(Book::Labels, blue);
        EXPECT_EQ(blue->books(), QList<ManagedObject *>{y});
        ASSERT_TRUE(o.context->save());
    }
    Opened o = openStore(path);
    auto labelNamed = [&](const QString &n) {
        for (Label *l : all<Label>(*o.context))
            if (l->name() == n)
                return l;
        return static_cast<Label *>(nullptr);
    };
    ASSERT_TRUE(labelNamed("blue") && labelNamed("red"));
    ASSERT_EQ(labelNamed("blue")->books().size(), 1);
    EXPECT_EQ(static_cast<Book *>(labelNamed("blue")->books().first())->title(), "y");
    ASSERT_EQ(labelNamed("red")->books().size(), 1);
    EXPECT_EQ(static_cast<Book *>(labelNamed("red")->books().first())->title(), "x");
}

TEST(ObjectStoreRelationships, MovingAnObjectUpdatesTheOldOwner)
{
    Opened o = openStore(freshPath());
    auto *s1 = o.context->insert<Shelf>();
    auto *s2 = o.context->insert<Shelf>();
    auto *book = o.context->insert<Book>();
    book->setShelf(s1);
    s2->addToMany(Shelf::Books, book);
    EXPECT_TRUE(s1->books().isEmpty());
    EXPECT_EQ(book->shelf(), s2);
    book->setShelf(nullptr);
    EXPECT_TRUE(s2->books().isEmpty());
}

TEST(ObjectStoreChildContext, ChildSaveIsInvisibleInTheParentUntilItSaves)
{
    const QString path = freshPath();
    Opened o = openStore(path);
    auto *shelf = o.context->insert<Shelf>();
    shelf->setName("parent's");
    auto *book = o.context->insert<Book>();
    book->setShelf(shelf);
    ASSERT_TRUE(o.context->save());

    std::unique_ptr<ManagedObjectContext> child = o.context->newChildContext();
    EXPECT_EQ(child->parentContext(), o.context.get());
    EXPECT_EQ(child->concurrencyType(), ManagedObjectContext::ConcurrencyType::PrivateQueue);
    ObjectID newId;
    QThread *ranOn = nullptr;
    child->performAndWait([&] {
        ranOn = QThread::currentThread();
        auto *childShelf = static_cast<Shelf *>(child->objectWithID(shelf->objectID()));
        ASSERT_TRUE(childShelf);
        childShelf->setName("child's");
        auto *extra = child->insert<Book>();
        extra->setTitle("from child");
        extra->setShelf(childShelf);
        newId = extra->objectID();
        child->deleteObject(child->objectWithID(book->objectID()));
    });
    EXPECT_NE(ranOn, QThread::currentThread());
    EXPECT_EQ(shelf->name(), "parent's");
    EXPECT_FALSE(o.context->objectWithID(newId));
    EXPECT_FALSE(book->isDeleted());

    bool saved = false;
    child->performAndWait([&] { saved = child->save(); });
    ASSERT_TRUE(saved);
    EXPECT_EQ(shelf->name(), "child's");
    auto *extra = static_cast<Book *>(o.context->objectWithID(newId));
    ASSERT_TRUE(extra) << "an ID made in the child resolves in the parent";
    EXPECT_EQ(extra->title(), "from child");
    EXPECT_EQ(extra->shelf(), shelf);
    EXPECT_TRUE(book->isDeleted());
    EXPECT_EQ(shelf->books(), QList<ManagedObject *>{extra});
    EXPECT_TRUE(o.context->hasChanges());

    // Nothing reached the file yet.
    {
        Opened other = openStore(path);
        EXPECT_EQ(shelfNamed(*other.context, "parent's") != nullptr, true);
        EXPECT_EQ(all<Book>(*other.context).size(), 1);
    }
    ASSERT_TRUE(o.context->save());
    Opened other = openStore(path);
    ASSERT_TRUE(shelfNamed(*other.context, "child's"));
    ASSERT_EQ(all<Book>(*other.context).size(), 1);
    EXPECT_EQ(all<Book>(*other.context).first()->title(), "from child");
}

TEST(ObjectStoreChildContext, UpdatesToObjectsTheParentDeletedAreDropped)
{
    Opened o = openStore(freshPath());
    auto *shelf = o.context->insert<Shelf>();
    shelf->setName("before");
    auto child = o.context->newChildContext();
    o.context->deleteObject(shelf);
    child->performAndWait([&] {
        static_cast<Shelf *>(child->objectWithID(shelf->objectID()))->setName("after");
        EXPECT_TRUE(child->save());
    });
    EXPECT_TRUE(shelf->isDeleted());
    EXPECT_EQ(shelf->name(), "before");
}

TEST(ObjectStoreChildContext, ManyToManyEditsInAChildKeepTheParentsOtherLinks)
{
    Opened o = openStore(freshPath());
    auto *label = o.context->insert<Label>();
    auto *a = o.context->insert<Book>();
    auto *b = o.context->insert<Book>();
    label->addToMany(Label::BooksRel, a);
    auto child = o.context->newChildContext();
    label->addToMany(Label::BooksRel, b); // made in the parent after the snapshot
    child->performAndWait([&] {
        auto *childLabel = child->objectWithID(label->objectID());
        childLabel->removeFromMany(Label::BooksRel, child->objectWithID(a->objectID()));
        auto *c = child->insert<Book>();
        childLabel->addToMany(Label::BooksRel, c);
        EXPECT_TRUE(child->save());
    });
    ASSERT_EQ(label->books().size(), 2);
    EXPECT_EQ(label->books().first(), b);
    EXPECT_TRUE(a->labels().isEmpty());
}

TEST(ObjectStoreChildContext, PerformRunsLaterOnTheChildThread)
{
    Opened o = openStore(freshPath());
    auto child = o.context->newChildContext();
    std::atomic<bool> ran = false;
    child->perform([&] { ran = QThread::currentThread() != QCoreApplication::instance()->thread(); });
    EXPECT_TRUE(testsupport::waitUntil([&] { return ran.load(); }));
}

// A block on the child's thread may hold the last reference to the child.
TEST(ObjectStoreChildContext, AChildFreedOnItsOwnThreadEndsThatThread)
{
    Opened o = openStore(freshPath());
    std::shared_ptr<ManagedObjectContext> child = o.context->newChildContext();
    QPointer<QThread> worker = child->thread();
    std::atomic<bool> gone = false;
    QObject::connect(child.get(), &QObject::destroyed, [&] { gone = true; });
    std::atomic<bool> released = false;
    ManagedObjectContext *raw = child.get();
    raw->perform([child, &released] {
        while (!released)
            std::this_thread::yield();
    });
    child.reset();
    released = true;
    EXPECT_TRUE(testsupport::waitUntil([&] { return gone.load() && !worker; }));
}

TEST(ObjectStoreUndo, InsertsEditsAndACascadingDeleteUndoAndRedo)
{
    Opened o = openStore(freshPath());
    auto *undo = new UndoManager(o.context.get());
    o.context->setUndoManager(undo);
    QSignalSpy undone(undo, &UndoManager::didUndo);
    QSignalSpy redone(undo, &UndoManager::didRedo);

    auto *shelf = o.context->insert<Shelf>();
    shelf->setName("first");
    auto *book = o.context->insert<Book>();
    book->setShelf(shelf);
    undo->setActionName("Add");
    QCoreApplication::processEvents(); // one pass: one group
    EXPECT_EQ(undo->undoActionName(), "Add");

    shelf->setName("second");
    QCoreApplication::processEvents();
    o.context->deleteObject(shelf);
    undo->setActionName("Delete");
    QCoreApplication::processEvents();
    ASSERT_TRUE(book->isDeleted());

    undo->undo(); // the delete
    EXPECT_EQ(undone.count(), 1);
    EXPECT_FALSE(shelf->isDeleted());
    EXPECT_FALSE(book->isDeleted());
    EXPECT_EQ(book->shelf(), shelf);
    EXPECT_EQ(shelf->books(), QList<ManagedObject *>{book});
    EXPECT_EQ(undo->redoActionName(), "Delete");

    undo->undo(); // the rename
    EXPECT_EQ(shelf->name(), "first");
    undo->undo(); // the inserts
    EXPECT_TRUE(shelf->isDeleted());
    EXPECT_TRUE(book->isDeleted());
    EXPECT_FALSE(undo->canUndo());
    EXPECT_EQ(o.context->count({Shelf::entityName()}), 0);

    undo->redo();
    EXPECT_FALSE(shelf->isDeleted());
    EXPECT_EQ(book->shelf(), shelf);
    EXPECT_EQ(shelf->name(), "first");
    undo->redo();
    EXPECT_EQ(shelf->name(), "second");
    undo->redo();
    EXPECT_TRUE(shelf->isDeleted());
    EXPECT_TRUE(book->isDeleted());
    EXPECT_EQ(redone.count(), 3);
    EXPECT_FALSE(undo->canRedo());
    undo->undo();
    ASSERT_TRUE(o.context->save());
    EXPECT_EQ(o.context->count({Book::entityName()}), 1);
}

TEST(ObjectStoreUndo, UndoingADeleteAfterItWasSavedWritesTheObjectAgain)
{
    const QString path = freshPath();
    Opened o = openStore(path);
    auto *undo = new UndoManager(o.context.get());
    o.context->setUndoManager(undo);
    auto *shelf = o.context->insert<Shelf>();
    shelf->setName("kept");
    auto *book = o.context->insert<Book>();
    book->setShelf(shelf);
    ASSERT_TRUE(o.context->save());
    QCoreApplication::processEvents();
    o.context->deleteObject(shelf);
    ASSERT_TRUE(o.context->save());
    undo->undo();
    ASSERT_TRUE(o.context->save());
    Opened other = openStore(path);
    Shelf *again = shelfNamed(*other.context, "kept");
    ASSERT_TRUE(again);
    EXPECT_EQ(again->books().size(), 1);
}

TEST(ObjectStoreUndo, GroupsNestAndRegistrationCanBeSwitchedOff)
{
    UndoManager undo;
    int value = 0;
    std::function<void(int)> set = [&](int v) {
        const int old = value;
        value = v;
        undo.registerUndo([&, old] { set(old); });
    };
    undo.beginUndoGrouping();
    set(1);
    undo.beginUndoGrouping();
    set(2);
    undo.endUndoGrouping();
    undo.endUndoGrouping();
    undo.disableUndoRegistration();
    set(5);
    undo.enableUndoRegistration();
    value = 2;
    undo.undo();
    EXPECT_EQ(value, 0);
    undo.redo();
    EXPECT_EQ(value, 2);
}

TEST(ObjectStoreSchema, AnOlderStoreGainsTheNewTablesAndColumns)
{
    const QString path = freshPath();
    {
        Opened o = openStore(path, 1);
        auto *book = o.context->insert<Book>();
        book->setTitle("old");
        ASSERT_TRUE(o.context->save());
    }
    Opened o = openStore(path, 2);
    ASSERT_TRUE(o.store);
    const auto books = all<Book>(*o.context);
    ASSERT_EQ(books.size(), 1);
    EXPECT_EQ(books.first()->title(), "old");
    EXPECT_FALSE(books.first()->value(Book::Rating).isValid()) << "old rows have no value for a new column";
    auto *label = o.context->insert<Label>();
    label->addToMany(Label::BooksRel, books.first());
    books.first()->setValue(Book::Rating, qint64(5));
    ASSERT_TRUE(o.context->save());
    o.context.reset();
    o.store.reset();

    Opened again = openStore(path, 2);
    ASSERT_EQ(all<Label>(*again.context).size(), 1);
    EXPECT_EQ(all<Label>(*again.context).first()->books().size(), 1);
    EXPECT_EQ(all<Book>(*again.context).first()->value(Book::Rating), QVariant(qint64(5)));
    EXPECT_EQ(again.store->metadata().value(kStoreModelVersionKey).toInt(), 2);
}

TEST(ObjectStoreSchema, AStoreFromANewerSchemaIsRefused)
{
    const QString path = freshPath();
    openStore(path, 2);
    const QByteArray before = [&] { QFile f(path); f.open(QIODevice::ReadOnly); return f.readAll(); }();
    Error error;
    auto store = PersistentStore::openSQLite(path, makeModel(1), &error);
    EXPECT_FALSE(store);
    EXPECT_EQ(error.domain, kObjectStoreErrorDomain);
    EXPECT_EQ(error.code, StoreTooNew);
}

TEST(ObjectStoreSchema, ADamagedFileIsReportedAndLeftAlone)
{
    const QString path = freshPath();
    const QByteArray junk = QByteArray("this is not a database at all ").repeated(200);
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(junk);
    }
    Error error;
    auto store = PersistentStore::openSQLite(path, makeModel(), &error);
    EXPECT_FALSE(store);
    EXPECT_EQ(error.code, StoreDamaged);
    EXPECT_FALSE(error.description.isEmpty());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), junk) << "never silently replaced";

    Error metaError;
    EXPECT_FALSE(PersistentStore::metadataForStoreAtPath(path, &metaError).has_value());
    EXPECT_EQ(metaError.code, StoreDamaged);

    // A context without a store answers nothing and refuses to save.
    ManagedObjectContext context(makeModel());
    context.insert<Shelf>();
    Error saveError;
    EXPECT_FALSE(context.save(&saveError));
    EXPECT_EQ(saveError.code, StoreMissing);
}

// Made read-only the way the user can: its mode, or for root (who writes
// anyway) the immutable flag. False when neither holds here.
bool makeReadOnly(const QString &path, bool readOnly)
{
    QFile::setPermissions(path, readOnly ? QFileDevice::ReadOwner : QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (::geteuid() == 0) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
        if (fd < 0)
            return false;
        int flags = 0;
        bool set = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = readOnly ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        set = set && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        ::close(fd);
        if (!set)
            return false;
    }
    return !readOnly || !QFile(path).open(QIODevice::ReadWrite);
}

TEST(ObjectStoreSchema, AReadOnlyStoreIsRefusedAndOpensOnceWritableAgain)
{
    const QString path = freshPath();
    {
        Opened o = openStore(path);
        o.context->insert<Book>()->setTitle("kept");
        ASSERT_TRUE(o.context->save());
    }
    if (!makeReadOnly(path, true))
        GTEST_SKIP() << "no read-only file can be made here";
    Error error;
    EXPECT_FALSE(PersistentStore::openSQLite(path, makeModel(), &error));
    EXPECT_TRUE(error.description.contains("read-only")) << error.description.toStdString();
    EXPECT_TRUE(error.recoverySuggestion.contains("“" + path + "” and its folder writable"));
    EXPECT_TRUE(PersistentStore::metadataForStoreAtPath(path, &error).has_value()) << "reading it is fine";
    // Nothing as read-only as the store is left beside it to keep it shut.
    EXPECT_FALSE(QFileInfo::exists(path + "-shm"));
    ASSERT_TRUE(makeReadOnly(path, false));
    Opened again = openStore(path);
    ASSERT_TRUE(again.store);
    EXPECT_EQ(again.context->fetchObjects<Book>().size(), 1);
}

TEST(ObjectStoreSchema, AStoreThatLostATableIsDamagedNotRefilled)
{
    const QString path = freshPath();
    {
        Opened o = openStore(path);
        o.context->insert<Book>()->setTitle("kept");
        ASSERT_TRUE(o.context->save());
    }
    {
        SqliteDatabase db;
        ASSERT_TRUE(db.open(path, false));
        ASSERT_TRUE(db.exec("DROP TABLE Shelf"));
    }
    Error error;
    EXPECT_FALSE(PersistentStore::openSQLite(path, makeModel(), &error));
    EXPECT_EQ(error.code, StoreDamaged);
    EXPECT_TRUE(error.description.contains("Shelf")) << error.description.toStdString();
    SqliteDatabase db;
    ASSERT_TRUE(db.open(path, false));
    SqliteStatement st(db, "SELECT count(*) FROM sqlite_master WHERE name='Shelf'");
    ASSERT_TRUE(st.step());
    EXPECT_EQ(st.int64At(0), 0) << "left as found";
}

TEST(ObjectStoreSave, TwoConnectionsInsertingIntoOneFileNeverShareAKey)
{
    const QString path = freshPath();
    openStore(path);
    // As two processes do: both open before either inserts.
    Opened first = openStore(path);
    Opened second = openStore(path);
    for (int round = 0; round < 3; ++round) {
        for (Opened *o : {&first, &second}) {
            for (int i = 0; i < 600; ++i)
                o->context->insert<Book>();
            Error error;
            ASSERT_TRUE(o->context->save(&error)) << error.description.toStdString();
        }
    }
    EXPECT_EQ(all<Book>(*openStore(path).context).size(), 3600);
}

TEST(ObjectStoreSave, AFailedSaveRollsBackAndKeepsTheChanges)
{
    const QString path = freshPath();
    Opened o = openStore(path);
    auto *keep = o.context->insert<Shelf>();
    keep->setName("saved");
    ASSERT_TRUE(o.context->save());
    {
        SqliteDatabase db;
        ASSERT_TRUE(db.open(path, false));
        ASSERT_TRUE(db.exec("CREATE TRIGGER refuse BEFORE INSERT ON Book BEGIN SELECT RAISE(ABORT, 'books refused'); END"));
    }
    keep->setName("changed");
    o.context->insert<Book>()->setShelf(keep);
    Error error;
    EXPECT_FALSE(o.context->save(&error));
    EXPECT_EQ(error.code, StoreSaveFailed);
    EXPECT_TRUE(error.description.contains("books refused")) << error.description.toStdString();
    EXPECT_EQ(error.userInfo.value("entity").toString(), "Book");
    EXPECT_TRUE(o.context->hasChanges());
    {
        Opened other = openStore(path);
        EXPECT_TRUE(shelfNamed(*other.context, "saved")) << "the shelf's update was rolled back";
    }
    {
        SqliteDatabase db;
        ASSERT_TRUE(db.open(path, false));
        ASSERT_TRUE(db.exec("DROP TRIGGER refuse"));
    }
    ASSERT_TRUE(o.context->save(&error));
    Opened other = openStore(path);
    ASSERT_TRUE(shelfNamed(*other.context, "changed"));
    EXPECT_EQ(all<Book>(*other.context).size(), 1);
}

TEST(ObjectStoreMetadata, SetAndRemovedFromAnotherThread)
{
    const QString path = freshPath("KTLibrary.db");
    Error error;
    auto missing = PersistentStore::metadataForStoreAtPath(path, &error);
    ASSERT_TRUE(missing.has_value()) << "no file yet: simply empty";
    EXPECT_TRUE(missing->isEmpty());
    EXPECT_FALSE(PersistentStore::setMetadataValueForStoreAtPath("x", "k", path, &error));
    EXPECT_FALSE(QFile::exists(path)) << "writing metadata makes no store file";

    Opened o = openStore(path);
    o.context->insert<Shelf>();
    const QDateTime when = QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5), QTimeZone::utc());
    std::thread worker([&] {
        EXPECT_TRUE(PersistentStore::setMetadataValueForStoreAtPath(when, "lastUpdateDate", path));
        EXPECT_TRUE(PersistentStore::setMetadataValueForStoreAtPath(QStringLiteral("YES"), "proUpdated", path));
        EXPECT_TRUE(PersistentStore::setMetadataValueForStoreAtPath(QVariant(), "proUpdated", path));
    });
    ASSERT_TRUE(o.context->save()); // while the worker writes
    worker.join();
    const auto meta = PersistentStore::metadataForStoreAtPath(path);
    ASSERT_TRUE(meta.has_value());
    EXPECT_EQ(meta->value("lastUpdateDate").toDateTime(), when);
    EXPECT_FALSE(meta->contains("proUpdated"));
    EXPECT_FALSE(meta->value(kStoreUUIDKey).toString().isEmpty());
}

TEST(ObjectStoreMemory, AnInMemoryStoreSavesAndStartsEmpty)
{
    auto model = makeModel();
    {
        auto store = PersistentStore::openInMemory(model);
        ASSERT_TRUE(store);
        ManagedObjectContext context(model);
        ASSERT_TRUE(context.attachStore(store));
        auto *shelf = context.insert<Shelf>();
        shelf->setBlob("data");
        ASSERT_TRUE(context.save());
        EXPECT_FALSE(context.hasChanges());
        EXPECT_EQ(shelf->blob(), "data");
        auto child = context.newChildContext();
        child->performAndWait([&] { EXPECT_EQ(child->count({Shelf::entityName()}), 1); });
    }
    auto store = PersistentStore::openInMemory(model);
    ManagedObjectContext context(model);
    ASSERT_TRUE(context.attachStore(store));
    EXPECT_EQ(context.count({Shelf::entityName()}), 0);
}

TEST(ObjectStoreNotifications, ChangesAreGatheredOncePerPass)
{
    Opened o = openStore(freshPath());
    QList<ObjectChanges> seen;
    QObject::connect(o.context.get(), &ManagedObjectContext::objectsDidChange,
                     [&](const ObjectChanges &c) { seen.append(c); });
    auto *shelf = o.context->insert<Shelf>();
    shelf->setName("a");
    shelf->setName("b");
    auto *gone = o.context->insert<Book>();
    o.context->deleteObject(gone);
    EXPECT_TRUE(seen.isEmpty());
    QCoreApplication::processEvents();
    ASSERT_EQ(seen.size(), 1);
    EXPECT_EQ(seen.first().inserted, QList<ManagedObject *>{shelf});
    EXPECT_TRUE(seen.first().updated.isEmpty());
    EXPECT_TRUE(seen.first().deleted.isEmpty()) << "inserted and deleted in one pass is no change";
    ASSERT_TRUE(o.context->save());
    seen.clear();
    shelf->setName("c");
    shelf->setValue(Shelf::Scratch, false); // transient: announced, not saved
    QCoreApplication::processEvents();
    ASSERT_EQ(seen.size(), 1);
    EXPECT_EQ(seen.first().updated, QList<ManagedObject *>{shelf});
    seen.clear();
    QCoreApplication::processEvents();
    EXPECT_TRUE(seen.isEmpty());
}

TEST(ObjectStoreTextMatching, CaseAndDiacriticsAreIgnored)
{
    EXPECT_TRUE(TextMatching::containsCD(QStringLiteral("Crème Brûlée"), QStringLiteral("BRULEE")));
    EXPECT_TRUE(TextMatching::beginsWithCD(QStringLiteral("Ärger"), QStringLiteral("arg")));
    EXPECT_TRUE(TextMatching::equalsCD(QStringLiteral("ﬁne"), QStringLiteral("FINE")));
    EXPECT_FALSE(TextMatching::containsCD(QStringLiteral("Oak"), QStringLiteral("ask")));
    EXPECT_TRUE(TextMatching::containsCD(QStringLiteral("anything"), QString()));
}
