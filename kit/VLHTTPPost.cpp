#include "kit/VLHTTPPost.h"

#include "kit/VLHTTPPostDelegate.h"
#include "kit/VLKitUtils.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStringDecoder>
#include <QThreadStorage>
#include <QUuid>

namespace {

QString contentType(const QString &boundary)
{
    return QStringLiteral("multipart/form-data; boundary=%1").arg(boundary);
}

// Statuses of an answer (4xx, 5xx) arrive as reply errors too; only the
// others mean that no answer came.
bool isTransportError(QNetworkReply::NetworkError error)
{
    const int code = int(error);
    return code != 0 && (code < 200 || (code >= 300 && code < 400));
}

} // namespace

VLHTTPPost::VLHTTPPost(const QUrl &url, QObject *parent)
    : QObject(parent)
    , m_url(url)
    , m_request(url)
    , m_boundary(QString::fromLatin1(kBoundary))
{
    m_request.setHeader(QNetworkRequest::ContentTypeHeader, contentType(m_boundary));
}

VLHTTPPost::~VLHTTPPost()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        delete m_reply.data();
    }
}

QNetworkAccessManager *VLHTTPPost::sharedNetworkAccessManager()
{
    static QThreadStorage<QNetworkAccessManager *> managers;
    if (!managers.hasLocalData())
        managers.setLocalData(new QNetworkAccessManager);
    return managers.localData();
}

bool VLHTTPPost::boundaryOccursIn(const QString &boundary) const
{
    const QByteArray bytes = boundary.toUtf8();
    for (const Field &field : m_fields) {
        if (field.data.contains(bytes) || field.name.toUtf8().contains(bytes))
            return true;
    }
    return false;
}

void VLHTTPPost::appendPart(const Field &field)
{
    m_formData += "--" + m_boundary.toUtf8() + "\r\n";
    m_formData += "Content-Disposition: form-data; name=\"" + field.name.toUtf8() + "\";\r\n\r\n";
    m_formData += field.data;
    m_formData += "\r\n";
}

void VLHTTPPost::rebuildBody()
{
    m_formData.clear();
    for (const Field &field : std::as_const(m_fields))
        appendPart(field);
    if (m_closed)
        m_formData += "--" + m_boundary.toUtf8() + "--\r\n";
}

void VLHTTPPost::addNewDataForFieldName(const QByteArray &data, const QString &name)
{
    if (m_closed) {
        // A closed body takes no more parts; the field would land after the end.
        return;
    }
    m_fields.append({name, data});
    if (!boundaryOccursIn(m_boundary)) {
        appendPart(m_fields.last());
        return;
    }
    // A value holding the boundary would end its part early: pick another.
    QString boundary;
    do {
        boundary = QString::fromLatin1(kBoundary) + QLatin1Char('-')
            + QUuid::createUuid().toString(QUuid::Id128);
    } while (boundaryOccursIn(boundary));
    m_boundary = boundary;
    m_request.setHeader(QNetworkRequest::ContentTypeHeader, contentType(m_boundary));
    rebuildBody();
}

void VLHTTPPost::addNewStringForFieldName(const QString &string, const QString &name)
{
    addNewDataForFieldName(string.toUtf8(), name);
}

void VLHTTPPost::postForm()
{
    if (m_reply)
        return; // one request at a time
    if (m_agentString.isNull()) {
        m_agentString = QStringLiteral("%1/%2 (%3)")
                            .arg(VLKitUtils::applicationName(), VLKitUtils::shortVersionString(),
                                 VLKitUtils::versionString());
    }
    if (!m_closed) {
        m_formData += "--" + m_boundary.toUtf8() + "--\r\n";
        m_closed = true;
    }
    m_request.setRawHeader("User-Agent", m_agentString.toUtf8());
    m_request.setHeader(QNetworkRequest::ContentLengthHeader, qint64(m_formData.size()));
    m_request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    m_request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);

    m_receivedData.reset();
    m_response.reset();
    QNetworkReply *reply = sharedNetworkAccessManager()->post(m_request, m_formData);
    reply->setParent(this); // goes with the poster
    m_reply = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply] { finished(reply); });
}

void VLHTTPPost::finished(QNetworkReply *reply)
{
    if (reply != m_reply)
        return;
    m_reply = nullptr;
    reply->deleteLater();

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const bool failed = isTransportError(reply->error()) || !status.isValid();
    if (status.isValid())
        m_response = Response{status.toInt(), reply->rawHeaderPairs(), reply->url()};

    QPointer<VLHTTPPost> self(this);
    auto *delegate = dynamic_cast<VLHTTPPostDelegate *>(m_delegate.data());
    if (failed) {
        platform::Error error;
        error.domain = QStringLiteral("QtNetwork");
        error.code = int(reply->error()) != 0 ? int(reply->error()) : int(QNetworkReply::UnknownNetworkError);
        error.description = reply->errorString();
        if (delegate)
            delegate->HTTPPostDidFailWithError(this, error);
    } else {
        m_receivedData = reply->readAll();
        if (delegate)
            delegate->HTTPPostDidFinishLoading(this);
    }
    if (self && m_autoDelete)
        self->deleteLater();
}

QString VLHTTPPost::receivedString() const
{
    if (!m_receivedData)
        return QString();
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder.decode(*m_receivedData);
    if (decoder.hasError())
        return QString();
    if (text.isNull())
        text = QStringLiteral(""); // an empty body is an empty text, not none
    return text;
}
