#include "CodecTestPhoto.h"

#include "platform/TypeTable.h"
#include "platform/codec/ExportFormat.h"
#include "platform/codec/ImageEncoder.h"
#include "platform/imaging/ImageDecoder.h"

#include <gtest/gtest.h>

using platform::ExportFormat;

// Every format is found the same way from each end: its menu place is its
// kept number, the type table knows its extensions and MIME type, and what
// it writes reads back with alpha exactly when it says it keeps alpha.
TEST(ExportFormat, EveryEntryAgreesWithTheTypeTableAndItsEncoder)
{
    const auto &all = ExportFormat::all();
    ASSERT_FALSE(all.empty());
    for (size_t i = 0; i < all.size(); ++i) {
        const ExportFormat &f = all[i];
        SCOPED_TRACE(f.name.toStdString());
        EXPECT_EQ(f.savedIndex, int(i));
        EXPECT_EQ(&ExportFormat::forSavedIndex(f.savedIndex), &f);
        EXPECT_EQ(ExportFormat::forType(f.type), &f);
        EXPECT_EQ(platform::TypeTable::mimeType(f.type), f.mimeType);
        for (const QString &extension : f.extensions)
            EXPECT_EQ(platform::TypeTable::typeForExtension(extension), f.type) << extension.toStdString();
        EXPECT_EQ(platform::ImageEncoder::canWriteBands(f.type), f.writeBands != nullptr);

        const QImage picture = codectest::renderedPicture(40, 30);
        const auto data = platform::ImageEncoder::encodeToData(picture, f.type, codectest::prepared(picture), 0.9,
                                                               nullptr);
        ASSERT_TRUE(data.has_value());
        const QImage back = platform::ImageDecoder::decode(*data).image;
        ASSERT_EQ(back.size(), QSize(40, 30));
        EXPECT_EQ(qAlpha(back.pixel(2, 2)) == 0, f.keepsAlpha);
    }
    EXPECT_FALSE(ExportFormat::isSavedIndex(qint64(all.size())));
    EXPECT_EQ(&ExportFormat::forSavedIndex(-1), &all.front());
}
