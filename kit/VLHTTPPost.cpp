#include "kit/VLHTTPPost.h"

#include "kit/VLHTTPPostDelegate.h"
#include "kit/VLKitUtils.h"

#include <QStringDecoder>
#include <QUuid>

namespace {

QByteArray contentType(const QString &boundary)
{
    return "multipart/form-data; boundary=" + boundary.toUtf8();
}

} // namespace

VLHTTPPost::VLHTTPPost(const QUrl &url, QObject *parent)
    : QObject(parent)
    , m_boundary(QString::fromLatin1(kBoundary))
{
    m_request.url = url;
    m_request.method = "POST";
    m_request.contentType = contentType(m_boundary);
}

// A request still on its way ends with its poster (it is the request's context).
VLHTTPPost::~VLHTTPPost() = default;

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
    m_request.contentType = contentType(m_boundary);
    rebuildBody();
}

void VLHTTPPost::addNewStringForFieldName(const QString &string, const QString &name)
{
    addNewDataForFieldName(string.toUtf8(), name);
}

void VLHTTPPost::postForm()
{
    if (m_posting)
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
    m_request.userAgent = m_agentString.toUtf8();
    m_request.body = m_formData;

    m_receivedData.reset();
    m_response.reset();
    m_posting = true;
    HttpClient::sendInBackground(m_request, kAnswerLimits, this,
                                 [this](HttpClient::Response response) { finished(std::move(response)); });
}

void VLHTTPPost::finished(HttpClient::Response response)
{
    m_posting = false;
    // Any status is an answer; only a request that got none has failed.
    const bool failed = response.failure != HttpClient::Failure::None;
    if (!failed)
        m_response = Response{response.status, response.headers, response.url};

    QPointer<VLHTTPPost> self(this);
    auto *delegate = dynamic_cast<VLHTTPPostDelegate *>(m_delegate.data());
    if (failed) {
        const platform::Error error = platform::describedError(response.error, int(response.failure));
        if (delegate)
            delegate->HTTPPostDidFailWithError(this, error);
    } else {
        m_receivedData = std::move(response.body);
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
