#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

// The options a process was started with, in the forms -key=value and -key,
// as a map from key to value. Anything not beginning with "-" (the program
// path, files to open) is no option and is left out.
class VLProcessArguments
{
public:
    using Arguments = QMap<QString, QString>;

    static constexpr const char *kTemplateKey = "template";
    static constexpr const char *kProcessKey = "process";

    // Parses this process's own arguments (program path included).
    VLProcessArguments();
    explicit VLProcessArguments(const QStringList &arguments);

    static Arguments argumentsFromArray(const QStringList &array);

    const Arguments &arguments() const { return m_arguments; }
    void setArguments(const Arguments &arguments) { m_arguments = arguments; }
    bool contains(const QString &key) const { return m_arguments.contains(key); }
    QString value(const QString &key) const { return m_arguments.value(key); }

    // The map as text, for the log.
    QString description() const;

    // Whether this process was started to frame its photo and quit.
    static bool isProcessRun();

private:
    Arguments m_arguments;
};
