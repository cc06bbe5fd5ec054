#include "design/KTImageLayer.h"
#include "design/KTTemplate.h"
#include "design/KTTemplatePackage.h"
#include "design/Tag.h"
#include "design/TemplatesStore.h"
#include "design/Variation.h"
#include "platform/Assert.h"
#include "platform/NotificationCenter.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QUuid>

namespace {

QString freshFolder()
{
    const QString path = testsupport::scratchDir() + QStringLiteral("/store-") + QUuid::createUuid().toString(QUuid::Id128);
    QDir().mkpath(path);
    return path;
}

std::shared_ptr<KTTemplate> designNamed(const QString &name)
{
    auto design = std::make_shared<KTTemplate>();
    design->insertLayer(std::make_shared<KTImageLayer>(), 0);
    design->setName(name);
    return design;
}

struct RenameLog {
    RenameLog()
    {
        id = platform::NotificationCenter::defaultCenter().addObserver(
            QString::fromLatin1(Variation::kVariationNameChangedNotification), nullptr,
            [this](const platform::Notification &n) { oldNames.append(n.userInfo.value_or(QVariantMap()).value("OldName").toString()); });
    }
    ~RenameLog() { platform::NotificationCenter::defaultCenter().removeObserver(id); }
    QStringList oldNames;
    platform::NotificationCenter::ObserverId id;
};

QString savePackage(const QString &folder, const QString &name, const QString &guid, const QStringList &tags)
{
    const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".KTTemplate");
    EXPECT_TRUE(designNamed(name)->saveToURL(QUrl::fromLocalFile(path), tags, guid, false));
    return path;
}

} // namespace

TEST(TemplatesStoreVariation, InsertionNamingAndValidation)
{
    TemplatesStore store(freshFolder());
    platform::ManagedObjectContext *moc = store.variationsManagedObjectContext();
    ASSERT_TRUE(moc);
    RenameLog log;
    Variation *v = Variation::insertInManagedObjectContext(moc);
    EXPECT_EQ(v->name(), QStringLiteral("New Template"));
    EXPECT_EQ(log.oldNames, QStringList{QString::fromLatin1(Variation::kModelDefaultName)});
    EXPECT_FALSE(v->guid().isEmpty());
    EXPECT_NE(v->guid(), Variation::insertInManagedObjectContext(moc)->guid());

    log.oldNames.clear();
    v->setName(QStringLiteral("New Template"));
    EXPECT_TRUE(log.oldNames.isEmpty());
    v->setName(QStringLiteral("Beach"));
    EXPECT_EQ(log.oldNames, QStringList{"New Template"});

    for (QVariant value : {QVariant(QString()), QVariant(), QVariant(42), QVariant(QStringLiteral(""))}) {
        EXPECT_TRUE(v->validateValueForKey(value, QStringLiteral("name")));
        EXPECT_EQ(value.toString(), QStringLiteral("New Template"));
    }
    QVariant a(QStringLiteral("A"));
    v->validateValueForKey(a, QStringLiteral("name"));
    EXPECT_EQ(a.toString(), QStringLiteral("A"));

    // Look-ups: exact names, unknown GUIDs.
    EXPECT_EQ(Variation::variationWithName(QStringLiteral("Beach"), moc), v);
    EXPECT_EQ(Variation::variationWithName(QStringLiteral("beach"), moc), nullptr);
    EXPECT_EQ(Variation::variationWithGUID(v->guid(), moc), v);
    EXPECT_EQ(Variation::variationWithGUID(QStringLiteral("nobody"), moc), nullptr);
    EXPECT_EQ(Tag::tagWithName(QStringLiteral("none"), moc), nullptr);
    EXPECT_EQ(moc->count(Tag::fetchRequest()), 0);
}

TEST(TemplatesStoreVariation, FromTemplateNamesIconsGuidsAndRebuilds)
{
    TemplatesStore store(freshFolder());
    platform::ManagedObjectContext *moc = store.variationsManagedObjectContext();
    Variation *unnamed =
        KTTemplatePackage::variationFromTemplate(designNamed(QString::fromLatin1(KTTemplate::kDefaultName)).get(), moc);
    EXPECT_EQ(unnamed->name(), QStringLiteral("New Template"));
    EXPECT_EQ(KTTemplatePackage::variationFromTemplate(designNamed(QString()).get(), moc)->name(),
              QStringLiteral("New Template"));
    EXPECT_EQ(unnamed->icon().size(), QSize(92, 92));

    auto carried = designNamed(QStringLiteral("Gilt"));
    carried->setVariationGUID(QStringLiteral("GUID-GILT"));
    Variation *gilt = KTTemplatePackage::variationFromTemplate(carried.get(), moc);
    EXPECT_EQ(gilt->name(), QStringLiteral("Gilt"));
    EXPECT_EQ(gilt->guid(), QStringLiteral("GUID-GILT"));
    EXPECT_THROW(KTTemplatePackage::variationFromTemplate(carried.get(), moc), platform::Exception);

    auto rebuilt = KTTemplate::templateFromVariation(gilt, nullptr);
    ASSERT_TRUE(rebuilt);
    EXPECT_EQ(rebuilt->name(), QStringLiteral("Gilt"));
    EXPECT_EQ(rebuilt->variationGUID(), QStringLiteral("GUID-GILT"));
    ASSERT_TRUE(rebuilt->imageLayer());

    // A Variation without data, or with damaged data, gives no design.
    Variation *empty = Variation::insertInManagedObjectContext(moc);
    EXPECT_FALSE(KTTemplate::templateFromVariation(empty, nullptr));
    empty->setData("garbage");
    EXPECT_FALSE(KTTemplate::templateFromVariation(empty, nullptr));
    EXPECT_FALSE(KTTemplate::templateFromVariation(nullptr, nullptr));

    // Names: every named Variation, a nameless one left out.
    empty->setName(QString());
    const auto names = Variation::namesOfAllVariationsInMOC(moc);
    ASSERT_TRUE(names);
    EXPECT_EQ(*names, (QStringList{"New Template", "New Template", "Gilt"}));
    EXPECT_FALSE(Variation::namesOfAllVariationsInMOC(nullptr));
}

TEST(TemplatesStoreFile, PersistsRenewsPlaceholderGuidsAndRaisesTheFirstRunFlag)
{
    const QString folder = freshFolder();
    QString guid;
    {
        TemplatesStore store(folder);
        bool told = false;
        store.setNeedToImportInitialTemplatesHandler([&told](bool need) { told = need; });
        platform::ManagedObjectContext *moc = store.templatesManagedObjectContext();
        EXPECT_TRUE(store.needToImportInitialTemplates());
        EXPECT_TRUE(told);
        EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/KTTemplates.db")));
        Variation *v = KTTemplatePackage::variationFromTemplate(designNamed(QStringLiteral("Kept")).get(), moc);
        Tag *tag = Tag::insertInManagedObjectContext(moc);
        tag->setName(QStringLiteral("wood"));
        v->addTagsObject(tag);
        Variation *placeholder = Variation::insertInManagedObjectContext(moc);
        placeholder->setGuid(QStringLiteral("GUID"));
        placeholder->setName(QString()); // saved with the default name
        // The variations of a run are never written anywhere.
        Variation::insertInManagedObjectContext(store.variationsManagedObjectContext());
        platform::Error error;
        ASSERT_TRUE(moc->save(&error)) << error.description.toStdString();
    }
    {
        TemplatesStore store(folder);
        platform::ManagedObjectContext *moc = store.templatesManagedObjectContext();
        EXPECT_FALSE(store.needToImportInitialTemplates());
        Variation *kept = Variation::variationWithName(QStringLiteral("Kept"), moc);
        ASSERT_TRUE(kept);
        ASSERT_EQ(kept->tags().size(), 1);
        EXPECT_EQ(kept->tags().first()->name(), QStringLiteral("wood"));
        EXPECT_EQ(Tag::tagWithName(QStringLiteral("wood"), moc)->variations(), QList<Variation *>{kept});
        EXPECT_TRUE(KTTemplate::templateFromVariation(kept, nullptr));
        Variation *renewed = Variation::variationWithName(QStringLiteral("New Template"), moc);
        ASSERT_TRUE(renewed);
        EXPECT_NE(renewed->guid(), QStringLiteral("GUID"));
        guid = renewed->guid();
        ASSERT_TRUE(moc->save());
        EXPECT_EQ(moc->count(Variation::fetchRequest()), 2);
        EXPECT_EQ(store.variationsManagedObjectContext()->count(Variation::fetchRequest()), 0);
    }
    TemplatesStore store(folder);
    EXPECT_TRUE(Variation::variationWithGUID(guid, store.templatesManagedObjectContext()));
}

TEST(TemplatesStoreImport, PackagesImportOnceWithTheirTagsAndDamagedOnesAreSkipped)
{
    const QString folder = freshFolder();
    const QString withGuid = savePackage(folder, QStringLiteral("Walnut"), QStringLiteral("GUID-WALNUT"),
                                         {QStringLiteral("wood"), QStringLiteral("classic")});
    const QString withoutGuid = savePackage(folder, QStringLiteral("Loose"), QString(), {QStringLiteral("wood")});
    const QString damaged = folder + QStringLiteral("/Broken.KTTemplate");
    QDir().mkpath(damaged);
    QFile f(damaged + QStringLiteral("/Template"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a template");
    f.close();

    TemplatesStore store(folder);
    platform::ManagedObjectContext *moc = store.templatesManagedObjectContext();
    const QList<QUrl> urls{QUrl::fromLocalFile(withGuid), QUrl::fromLocalFile(damaged),
                           QUrl::fromLocalFile(folder + QStringLiteral("/Missing.KTTemplate")),
                           QUrl::fromLocalFile(withoutGuid)};
    EXPECT_EQ(KTTemplate::importTemplatesFromURLs(urls, moc, nullptr), 2);
    QStringList guids;
    EXPECT_EQ(KTTemplate::importTemplatesFromURLs(urls, moc, nullptr, &guids), 1); // only the one without a GUID again
    Variation *twin = Variation::variationWithName(QStringLiteral("Loose 2"), moc);
    ASSERT_TRUE(twin) << "a second design of a name held already gets one of its own";
    EXPECT_EQ(guids, (QStringList{QStringLiteral("GUID-WALNUT"), twin->guid()})) << "the held one and the new one";
    EXPECT_EQ(moc->count(Variation::fetchRequest()), 3);
    EXPECT_EQ(moc->count(Tag::fetchRequest()), 2);
    Variation *walnut = Variation::variationWithGUID(QStringLiteral("GUID-WALNUT"), moc);
    ASSERT_TRUE(walnut);
    EXPECT_EQ(walnut->name(), QStringLiteral("Walnut"));
    EXPECT_EQ(walnut->tags().size(), 2);
    EXPECT_EQ(Tag::tagWithName(QStringLiteral("wood"), moc)->variations().size(), 3);
    EXPECT_FALSE(moc->count(Variation::fetchRequest()) == 0 && moc->hasChanges());
    EXPECT_TRUE(moc->hasChanges()); // the owner saves
}

TEST(TemplatesStoreImport, BuiltInTemplatesComeFromTheResourcesFolder)
{
    const QString resources = freshFolder();
    QDir().mkpath(resources + QStringLiteral("/Templates"));
    savePackage(resources + QStringLiteral("/Templates"), QStringLiteral("B"), QStringLiteral("GUID-B"), {});
    savePackage(resources + QStringLiteral("/Templates"), QStringLiteral("A"), QStringLiteral("GUID-A"), {});
    const QByteArray before = qgetenv("KANTELO_RESOURCES");
    qputenv("KANTELO_RESOURCES", resources.toLocal8Bit());
    const QList<QUrl> urls = TemplatesStore::builtInTemplateURLs();
    TemplatesStore store(freshFolder());
    const int first = store.importInitialTemplates(nullptr);
    const int again = store.importInitialTemplates(nullptr);
    if (before.isNull())
        qunsetenv("KANTELO_RESOURCES");
    else
        qputenv("KANTELO_RESOURCES", before);
    ASSERT_EQ(urls.size(), 2);
    EXPECT_TRUE(urls.first().toLocalFile().endsWith(QStringLiteral("/A.KTTemplate")));
    EXPECT_EQ(first, 2);
    EXPECT_EQ(again, 0);
}
