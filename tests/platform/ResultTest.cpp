#include "platform/Result.h"

#include <gtest/gtest.h>

#include <QByteArray>

using platform::Result;

TEST(PlatformResult, HoldsAValueOrAnError)
{
    Result<QByteArray> good(QByteArray("bytes"));
    ASSERT_TRUE(good.ok());
    EXPECT_EQ(good.value(), QByteArray("bytes"));
    EXPECT_TRUE(good.error().isNull());

    Result<QByteArray> bad(platform::describedError(QStringLiteral("damaged")));
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().description, QStringLiteral("damaged"));
    EXPECT_EQ(bad.error().domain, QString::fromLatin1(platform::kKanteloErrorDomain));
    EXPECT_EQ(std::move(bad).valueOr(QByteArray("fallback")), QByteArray("fallback"));
}
