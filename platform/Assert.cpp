#include "platform/Assert.h"

#include "platform/Log.h"

namespace platform {

Exception::Exception(QString name, QString reason)
    : m_name(std::move(name))
    , m_reason(std::move(reason))
    , m_what((m_name + QStringLiteral(": ") + m_reason).toStdString())
{
}

const char *Exception::what() const noexcept
{
    return m_what.c_str();
}

void raiseAssertion(const char *function, const QString &text)
{
    logLine(QStringLiteral("Assertion failure in %1: %2").arg(QString::fromUtf8(function), text));
    throw Exception(QString::fromLatin1(kInternalInconsistencyException), text);
}

} // namespace platform
