#pragma once

#include "kit/HttpClient.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QUrl>
#include <QVariant>

// A multipart form request: a POST with its content type and body.
struct PostFormRequest {
    HttpClient::Request request;
    QString boundary;
};

// Building form requests (the request side of the feedback window).
namespace postForm {
// Fields in the order given; a value is text (QString) or bytes
// (QByteArray). A value of another kind is left out with a log line.
PostFormRequest requestWithURLPostForm(const QUrl &url, const QList<QPair<QString, QVariant>> &fields);
} // namespace postForm

// Appending text to a byte buffer.
namespace append {
void pw_appendString(QByteArray &data, const QString &string);
} // namespace append
