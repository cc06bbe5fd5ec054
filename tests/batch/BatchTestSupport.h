#pragma once

#include "batch/KTBatchProcessingOptions.h"
#include "design/KTColorMatLayer.h"
#include "design/KTImageLayer.h"
#include "design/KTTemplate.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QUrl>

namespace batchtest {

// A photo with some texture, written as a real JPEG (or by extension).
inline QString writePhoto(const QString &path, int w = 300, int h = 200)
{
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    p.fillRect(image.rect(), QColor(40, 110, 180));
    p.fillRect(QRect(0, 0, w / 2, h / 2), QColor(230, 200, 40));
    p.end();
    QDir().mkpath(QFileInfo(path).absolutePath());
    image.save(path, nullptr, 90);
    return path;
}

// A design of one colour mat (no library needed).
inline std::shared_ptr<KTTemplate> matDesign()
{
    auto design = std::make_shared<KTTemplate>();
    design->insertLayer(std::make_shared<KTImageLayer>(), 0);
    auto mat = std::make_shared<KTColorMatLayer>();
    mat->setMatColor(QColor(200, 40, 90));
    design->addTopmostLayer(mat);
    design->setName(QStringLiteral("Mat"));
    return design;
}

inline std::shared_ptr<const KTBatchProcessingOptions> options(const QList<QUrl> &files, const KTImageFileFormat &format,
                                                               std::shared_ptr<const KTImageScaling> scaling = nullptr,
                                                               const QString &prefix = QString(),
                                                               const QString &suffix = QString())
{
    if (!scaling)
        scaling = KTImageScaling::defaultScaling();
    auto reference = KTBatchProcessingTemplate::initWithExternalTemplate(
        matDesign(), QUrl::fromLocalFile(QDir(testsupport::scratchDir()).filePath(QStringLiteral("Mat.KTTemplate"))),
        {});
    return std::make_shared<const KTBatchProcessingOptions>(files, format, reference, scaling, prefix, suffix);
}

// ImageMagick's "width height" of a file, empty when it can't read it.
inline QString identifySize(const QString &path)
{
    const testsupport::ProgramRun r = testsupport::runProgram(
        QStringLiteral("identify"), {QStringLiteral("-format"), QStringLiteral("%w %h"), path + QStringLiteral("[0]")});
    return r.succeeded() ? QString::fromUtf8(r.out).trimmed() : QString();
}

} // namespace batchtest
