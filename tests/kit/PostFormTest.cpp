#include "kit/PostForm.h"

#include <gtest/gtest.h>

TEST(KitPostForm, PartsAndClosingLine)
{
    const PostFormRequest form = postForm::requestWithURLPostForm(
        QUrl("http://127.0.0.1/feedback"),
        {{"feedbackType", QString("BUG")}, {"feedback", QString("x")}, {"bytes", QByteArray("\x01\x02", 2)},
         {"skipped", QVariant(42)}});
    const QByteArray b = form.boundary.toUtf8();
    EXPECT_TRUE(form.boundary.startsWith("x-mime-boundary://"));
    const QByteArray expected = "--" + b + "\r\nContent-Disposition: form-data; name=\"feedbackType\"\r\n\r\nBUG\r\n"
        + "--" + b + "\r\nContent-Disposition: form-data; name=\"feedback\"\r\n\r\nx\r\n" + "--" + b
        + "\r\nContent-Disposition: form-data; name=\"bytes\"\r\n\r\n\x01\x02\r\n" + "\r\n--" + b + "--\r\n";
    EXPECT_EQ(form.request.body, expected);
    EXPECT_EQ(form.request.method, "POST");
    EXPECT_EQ(form.request.contentType, "multipart/form-data; boundary=" + b);
    // Each request has a boundary of its own.
    EXPECT_NE(postForm::requestWithURLPostForm(QUrl("http://h/"), {}).boundary, form.boundary);
}
