#include "kit/VLProcessArguments.h"

#include <QCoreApplication>

VLProcessArguments::VLProcessArguments()
    : m_arguments(argumentsFromArray(QCoreApplication::arguments()))
{
}

VLProcessArguments::VLProcessArguments(const QStringList &arguments)
    : m_arguments(argumentsFromArray(arguments))
{
}

VLProcessArguments::Arguments VLProcessArguments::argumentsFromArray(const QStringList &array)
{
    Arguments parsed;
    for (const QString &argument : array) {
        if (!argument.startsWith(QLatin1Char('-')))
            continue;
        const qsizetype equals = argument.indexOf(QLatin1Char('='));
        if (equals < 0) {
            parsed.insert(argument.mid(1), QString());
            continue;
        }
        QString value = argument.mid(equals + 1);
        // A value quoted so that a shell kept it whole loses its quotes.
        if (value.startsWith(QLatin1Char('"')))
            value.remove(0, 1);
        if (value.endsWith(QLatin1Char('"')))
            value.chop(1);
        parsed.insert(argument.mid(1, equals - 1), value);
    }
    return parsed;
}

QString VLProcessArguments::description() const
{
    QStringList pairs;
    for (auto it = m_arguments.cbegin(); it != m_arguments.cend(); ++it)
        pairs << QStringLiteral("    %1 = \"%2\";").arg(it.key(), it.value());
    if (pairs.isEmpty())
        return QStringLiteral("{\n}");
    return QStringLiteral("{\n%1\n}").arg(pairs.join(QLatin1Char('\n')));
}

bool VLProcessArguments::isProcessRun()
{
    return VLProcessArguments().contains(QString::fromLatin1(kProcessKey));
}
