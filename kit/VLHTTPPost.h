#pragma once

#include "kit/HttpClient.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <optional>

// Sends one HTML-form POST with a multipart/form-data body and tells its
// delegate, on the main thread, whether an answer came back.
//
// With autoDelete set, the poster deletes itself once it has delivered its
// outcome, so a caller may let go of it right after postForm().
class VLHTTPPost : public QObject
{
    Q_OBJECT
public:
    static constexpr const char *kBoundary = "0xKhTmLbOuNdArY";

    struct Response {
        int statusCode = 0;
        QList<QPair<QByteArray, QByteArray>> headers; // names in lower case
        QUrl url;
    };

    // A form's answer is a short acknowledgement; anything much longer, or
    // slower, is no answer.
    static constexpr HttpClient::Limits kAnswerLimits{64 * 1024, 30000, 120000};

    explicit VLHTTPPost(const QUrl &url, QObject *parent = nullptr);
    ~VLHTTPPost() override;

    // The request as built so far, and the body.
    const HttpClient::Request &postRequest() const { return m_request; }
    const QByteArray &formData() const { return m_formData; }
    QString boundary() const { return m_boundary; }

    QString agentString() const { return m_agentString; }
    void setAgentString(const QString &agent) { m_agentString = agent; }

    // Held weakly; the object must implement VLHTTPPostDelegate.
    QObject *delegate() const { return m_delegate.data(); }
    void setDelegate(QObject *delegate) { m_delegate = delegate; }

    void addNewDataForFieldName(const QByteArray &data, const QString &name);
    void addNewStringForFieldName(const QString &string, const QString &name);

    bool autoDelete() const { return m_autoDelete; }
    void setAutoDelete(bool autoDelete) { m_autoDelete = autoDelete; }

    // Closes the body (once) and sends it.
    void postForm();
    bool isPosting() const { return m_posting; }

    // The body of an answer; none before it came or after a failure.
    std::optional<QByteArray> receivedData() const { return m_receivedData; }
    // The body as UTF-8 text; a null string when there is none or it is not UTF-8.
    QString receivedString() const;
    // The answer's status and headers; none when nothing came back.
    std::optional<Response> response() const { return m_response; }

private:
    struct Field {
        QString name;
        QByteArray data;
    };
    void appendPart(const Field &field);
    void rebuildBody();
    bool boundaryOccursIn(const QString &boundary) const;
    void finished(HttpClient::Response response);

    HttpClient::Request m_request;
    QByteArray m_formData;
    QList<Field> m_fields;
    QString m_boundary;
    bool m_closed = false;
    bool m_autoDelete = false;
    QString m_agentString;
    QPointer<QObject> m_delegate;
    bool m_posting = false;
    std::optional<QByteArray> m_receivedData;
    std::optional<Response> m_response;
};
