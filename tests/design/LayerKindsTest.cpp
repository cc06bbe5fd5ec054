#include "design/KTFrameLayer.h"
#include "design/KTImageLayer.h"
#include "design/KTLayerKinds.h"
#include "design/KTOverlayLayer.h"
#include "design/KTTemplate.h"

#include <gtest/gtest.h>

// Each kind makes its own class, is found again from a layer, a name and its
// library frame type, keeps its class through an archive, is counted under
// its label, and plays the role its class says.
TEST(LayerKinds, EveryKindMakesArchivesAndCountsItsOwnClass)
{
    const auto design = std::make_shared<KTTemplate>();
    for (const KTLayerKind &kind : KTLayerKinds::all()) {
        SCOPED_TRACE(kind.className.toStdString());
        const std::shared_ptr<KTLayer> layer = kind.make();
        ASSERT_TRUE(layer);
        EXPECT_EQ(QString::fromLatin1(layer->metaObject()->className()), kind.className);
        EXPECT_EQ(KTLayerKinds::of(layer.get()), &kind);
        EXPECT_EQ(KTLayerKinds::named(kind.className), &kind);
        if (!kind.frameTypeName.isEmpty()) {
            EXPECT_EQ(KTLayerKinds::forFrameType(kind.frameTypeName), &kind);
        }
        EXPECT_EQ(kind.role == KTLayerKind::Role::Photo, qobject_cast<KTImageLayer *>(layer.get()) != nullptr);
        EXPECT_EQ(kind.role == KTLayerKind::Role::Frame, qobject_cast<KTFrameLayer *>(layer.get()) != nullptr);
        EXPECT_EQ(kind.role == KTLayerKind::Role::Overlay, qobject_cast<KTOverlayLayer *>(layer.get()) != nullptr);
        // Overlays open the overlay panel, every other kind a settings panel of its own.
        EXPECT_EQ(kind.overlayType >= 0, kind.role == KTLayerKind::Role::Overlay);
        EXPECT_EQ(kind.panelController.isEmpty(), kind.role == KTLayerKind::Role::Overlay);
        design->insertLayer(layer, 0); // the photo comes first, so it ends innermost
    }

    const std::shared_ptr<KTTemplate> back = KTTemplate::templateFromData(design->dataForArchiving(), nullptr);
    ASSERT_TRUE(back);
    QStringList written, read;
    for (const auto &layer : design->layers())
        written << QString::fromLatin1(layer->metaObject()->className());
    for (const auto &layer : back->layers())
        read << QString::fromLatin1(layer->metaObject()->className());
    EXPECT_EQ(read, written);
    EXPECT_EQ(written.size(), qsizetype(KTLayerKinds::all().size()));

    const QVariantMap counts = back->dictionaryForAnalytics();
    for (const KTLayerKind &kind : KTLayerKinds::all()) {
        if (!kind.countedLabel.isEmpty()) {
            EXPECT_EQ(counts.value(kind.countedLabel).toInt(), 1) << kind.countedLabel.toStdString();
        }
    }
}
