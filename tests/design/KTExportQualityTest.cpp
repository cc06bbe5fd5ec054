#include "support/TestSupport.h"

#include "design/KTExportQuality.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"

#include <QFile>

#include <gtest/gtest.h>

// The quality as a settings file written by hand holds it: what QSettings
// reads back from the text after "OutputImageQuality=".
TEST(KTExportQuality, AnUnusableSettingGivesTheFactoryQualityAndOneWarning)
{
    QStringList lines;
    platform::setLogSink([&lines](const QString &line) { lines << line; });
    int files = 0;
    const auto read = [&files](const QByteArray &text) {
        const QString path = testsupport::scratchDir() + QStringLiteral("/quality%1.conf").arg(++files);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.isNull() ? QByteArray("[General]\n") : "[General]\nOutputImageQuality=" + text + "\n");
        file.close();
        const platform::UserDefaults defaults(path);
        return std::make_pair(KTExportQuality::fromDefaults(defaults), KTExportQuality::percentFromDefaults(defaults));
    };

    for (const QByteArray &bad : {QByteArray("abc"), QByteArray("70, 80"), QByteArray("-5"), QByteArray("0"),
                                  QByteArray("nan"), QByteArray("101"), QByteArray("true"), QByteArray("")}) {
        lines.clear();
        EXPECT_EQ(read(bad), std::make_pair(0.9, 90.0)) << bad.constData();
        ASSERT_EQ(lines.size(), 1) << bad.constData();
        EXPECT_TRUE(lines.first().startsWith("Warning: ")) << lines.first().toStdString();
        EXPECT_TRUE(lines.first().contains("OutputImageQuality")) << lines.first().toStdString();
    }
    lines.clear();
    EXPECT_EQ(read("75"), std::make_pair(0.75, 75.0));
    EXPECT_EQ(read(" 100 "), std::make_pair(1.0, 100.0));
    EXPECT_EQ(read(QByteArray()), std::make_pair(0.9, 90.0)) << "no setting at all is no fault";
    EXPECT_TRUE(lines.isEmpty()) << lines.join('\n').toStdString();
    platform::setLogSink(nullptr);
}
