// Archives are untrusted: whatever the bytes, unpacking writes nothing
// outside the destination, and no link it leaves leads out of it.
#include "kit/ZCZipArchive.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <climits>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Small limits keep runs quick; the bounds themselves are under test.
    ZCZipArchive::setLimits({8 << 20, 4 << 20, 200});
    QTemporaryDir folder;
    if (!folder.isValid())
        __builtin_trap();
    const QString archive = folder.path() + "/in.zip";
    const QString destination = folder.path() + "/out";
    {
        QFile file(archive);
        if (!file.open(QIODevice::WriteOnly))
            __builtin_trap();
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    ZCZipArchive::unzipFileAtPath(archive, destination);

    const QString root = QFileInfo(destination).canonicalFilePath();
    QDirIterator all(folder.path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                     QDirIterator::Subdirectories);
    while (all.hasNext()) {
        const QString path = all.next();
        if (path == archive || path == destination)
            continue;
        if (!path.startsWith(destination + '/'))
            __builtin_trap(); // something landed beside the destination
        char resolved[PATH_MAX];
        if (QFileInfo(path).isSymLink() && ::realpath(QFile::encodeName(path).constData(), resolved)) {
            const QString target = QFile::decodeName(resolved);
            if (target != root && !target.startsWith(root + '/'))
                __builtin_trap(); // a link leads out
        }
    }
    return 0;
}
