#pragma once

// Runs readers we did not write (ImageMagick, exiftool) on files the encoders
// wrote, and answers what they saw.
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace externalreaders {

inline QString run(const QString &program, const QStringList &args, int *exitCode = nullptr)
{
    const testsupport::ProgramRun r = testsupport::runProgram(program, args);
    if (exitCode)
        *exitCode = r.exitCode;
    return QString::fromUtf8(r.out);
}

// exiftool's tags, by "Group:Tag" (family 1 groups), numbers as numbers.
inline QJsonObject exiftool(const QString &path)
{
    const QString out = run(QStringLiteral("exiftool"), {QStringLiteral("-j"), QStringLiteral("-G1"),
                                                         QStringLiteral("-n"), QStringLiteral("-a"), path});
    const QJsonArray arr = QJsonDocument::fromJson(out.toUtf8()).array();
    return arr.isEmpty() ? QJsonObject() : arr.first().toObject();
}

inline QString identifyVerbose(const QString &path)
{
    return run(QStringLiteral("/usr/bin/identify"), {QStringLiteral("-verbose"), path});
}

// ImageMagick's answer to a -format string, for the first (or given) frame.
inline QString identifyFormat(const QString &path, const QString &format)
{
    return run(QStringLiteral("/usr/bin/identify"), {QStringLiteral("-format"), format, path + QStringLiteral("[0]")})
        .trimmed();
}

} // namespace externalreaders
