#include "design/KTImageLayer.h"
#include "design/KTTemplate.h"
#include "design/ui/KTSavePanelTemplateAccessoryViewController.h"
#include "design/ui/KTTemplateSaving.h"
#include "platform/UserDefaults.h"
#include "platform/ui/FilePanels.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QImage>

TEST(KTTemplateSavingPanel, AccessoryChoiceDecidesWhetherThePhotoGoesIn)
{
    const QString folder = testsupport::scratchDir() + QStringLiteral("/saving");
    QDir().mkpath(folder);
    QImage photo(120, 80, QImage::Format_RGB32);
    photo.fill(Qt::darkCyan);
    ASSERT_TRUE(photo.save(folder + QStringLiteral("/p.jpg"), "JPEG"));
    KTTemplate design;
    ASSERT_TRUE(design.importImage(QUrl::fromLocalFile(folder + QStringLiteral("/p.jpg"))));
    design.setName(QStringLiteral("Mine"));
    design.setVariationGUID(QStringLiteral("G-MINE"));

    platform::SavePanelRequest seen;
    int answer = 0;
    platform::setSavePanelPresenter([&](const platform::SavePanelRequest &r) {
        seen = r;
        // The user ticks the box in the accessory, then confirms.
        if (auto *box = r.accessoryView ? r.accessoryView->findChild<QCheckBox *>() : nullptr)
            box->setChecked(true);
        return QUrl::fromLocalFile(folder + QStringLiteral("/Saved%1").arg(++answer));
    });
    platform::UserDefaults::standard().setBool(QStringLiteral("IncludeImageInTemplate"), false);
    EXPECT_TRUE(KTTemplateSaving::saveToDiskWithWindow(design, nullptr, {QStringLiteral("t")}, true));
    EXPECT_EQ(seen.nameFieldValue, QStringLiteral("Mine"));
    EXPECT_EQ(seen.allowedTypes, QStringList{"com.velmoorsoft.kantelo.template"});
    EXPECT_TRUE(platform::UserDefaults::standard().boolForKey(QStringLiteral("IncludeImageInTemplate")));
    EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("/Saved1.KTTemplate/Image/p.jpg")));
    EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("/Saved1.KTTemplate/GUID")));

    // Not asked about the photo: no accessory and never the photo.
    EXPECT_TRUE(KTTemplateSaving::saveToDiskWithWindow(design, nullptr, {}, false));
    EXPECT_EQ(seen.accessoryView, nullptr);
    EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("/Saved2.KTTemplate/Template")));
    EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("/Saved2.KTTemplate/Image")));

    // Cancelled: nothing written.
    platform::setSavePanelPresenter([](const platform::SavePanelRequest &) { return QUrl(); });
    EXPECT_TRUE(KTTemplateSaving::saveToDiskWithWindow(design, nullptr, {}, true));
    platform::setSavePanelPresenter(nullptr);
    EXPECT_EQ(QDir(folder).entryList({QStringLiteral("*.KTTemplate")}, QDir::Dirs).size(), 2);
}
