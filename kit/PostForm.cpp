#include "kit/PostForm.h"

#include "platform/Log.h"

#include <QUuid>

namespace append {
void pw_appendString(QByteArray &data, const QString &string)
{
    data += string.toUtf8();
}
} // namespace append

namespace postForm {

PostFormRequest requestWithURLPostForm(const QUrl &url, const QList<QPair<QString, QVariant>> &fields)
{
    using append::pw_appendString;
    PostFormRequest result;
    // A fresh UUID cannot occur in any value by chance.
    result.boundary = QStringLiteral("x-mime-boundary://%1").arg(QUuid::createUuid().toString(QUuid::WithoutBraces));
    QByteArray &body = result.request.body;
    for (const auto &[name, value] : fields) {
        QByteArray bytes;
        if (value.typeId() == QMetaType::QString) {
            bytes = value.toString().toUtf8();
        } else if (value.typeId() == QMetaType::QByteArray) {
            bytes = value.toByteArray();
        } else {
            platform::logLine(QStringLiteral("ERROR: unknown value class: %1").arg(QString::fromLatin1(value.typeName())));
            continue;
        }
        pw_appendString(body, QStringLiteral("--%1\r\n").arg(result.boundary));
        pw_appendString(body, QStringLiteral("Content-Disposition: form-data; name=\"%1\"\r\n").arg(name));
        pw_appendString(body, QStringLiteral("\r\n"));
        body += bytes;
        pw_appendString(body, QStringLiteral("\r\n"));
    }
    pw_appendString(body, QStringLiteral("\r\n--%1--\r\n").arg(result.boundary));

    result.request.url = url;
    result.request.method = "POST";
    result.request.contentType = "multipart/form-data; boundary=" + result.boundary.toUtf8();
    return result;
}

} // namespace postForm
