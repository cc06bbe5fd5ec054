// Design template packages are folders from anywhere. The input is unpacked
// into a package folder (entries of: name length, name, 16-bit content
// length, content), read as a file wrapper and then as a design.
#include "design/KTTemplatePackage.h"
#include "platform/FileWrapper.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // Text layers measure with fonts, which want an application.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QTemporaryDir folder;
    if (!folder.isValid())
        __builtin_trap();
    const QString package = folder.path() + "/Design.kttemplate";
    QDir().mkpath(package);
    size_t pos = 0;
    for (int entries = 0; pos < size && entries < 32; ++entries) {
        const size_t nameLength = data[pos++];
        if (pos + nameLength + 2 > size)
            break;
        const QString name = QString::fromLatin1(reinterpret_cast<const char *>(data + pos), qsizetype(nameLength));
        pos += nameLength;
        size_t length = data[pos] | (size_t(data[pos + 1]) << 8);
        pos += 2;
        length = std::min(length, size - pos);
        const QByteArray contents(reinterpret_cast<const char *>(data + pos), qsizetype(length));
        pos += length;
        // Only names that stay inside the package, at most one folder down.
        const QStringList parts = name.split('/');
        if (name.isEmpty() || parts.size() > 2 || parts.contains("..") || parts.contains(".") || parts.contains("")
            || name.contains(QChar(0)))
            continue;
        if (parts.size() == 2)
            QDir().mkpath(package + '/' + parts.first());
        QFile file(package + '/' + name);
        if (file.open(QIODevice::WriteOnly))
            file.write(contents);
    }
    platform::Error error;
    const std::optional<platform::FileWrapper> wrapper = platform::FileWrapper::readFromPath(package, &error);
    if (!wrapper)
        return 0;
    QStringList tags;
    KTTemplatePackage::templateFromFileWrapper(*wrapper, nullptr, &tags);
    KTTemplatePackage::imageFilePathInPackage(QUrl::fromLocalFile(package));
    return 0;
}
