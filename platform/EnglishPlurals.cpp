#include "platform/EnglishPlurals.h"

#include <QCoreApplication>

namespace platform {

QString EnglishPlurals::translate(const char *, const char *sourceText, const char *, int n) const
{
    if (n < 0 || !sourceText)
        return {};
    const QString text = QString::fromUtf8(sourceText);
    if (!text.contains(QLatin1String("(s)")) && !text.contains(QLatin1String("(es)")))
        return {}; // left to Qt as it stands
    return form(text, n);
}

QString EnglishPlurals::form(const QString &text, int n)
{
    QString result = text;
    if (n == 1)
        return result.remove(QLatin1String("(s)")).remove(QLatin1String("(es)"));
    return result.replace(QLatin1String("(s)"), QLatin1String("s")).replace(QLatin1String("(es)"), QLatin1String("es"));
}

void EnglishPlurals::install()
{
    QCoreApplication *application = QCoreApplication::instance();
    if (!application || application->findChild<EnglishPlurals *>(QString(), Qt::FindDirectChildrenOnly))
        return;
    QCoreApplication::installTranslator(new EnglishPlurals(application));
}

} // namespace platform
