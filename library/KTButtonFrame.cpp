#include "library/KTButtonFrame.h"

#include "platform/Bundle.h"

#include <QMetaMethod>
#include <QPainter>
#include <QPainterPath>

KTButtonFrame::KTButtonFrame(const QString &name, QObject *target, const QByteArray &action,
                             const QString &iconImageName)
    : m_name(name)
    , m_target(target)
    , m_action(action)
    , m_iconImageName(iconImageName)
{
}

QImage KTButtonFrame::iconImage() const
{
    const QString path = platform::Bundle::pathForResource(m_iconImageName, QStringLiteral("png"));
    QImage image = path.isEmpty() ? QImage() : QImage(path);
    if (!image.isNull())
        return image;
    // Without the picture: a stack of frames with a plus on top.
    image = QImage(96, 96, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 2; i >= 0; --i) {
        const QRectF r(14 + i * 6, 22 - i * 6, 56, 56);
        p.setPen(QPen(QColor(40, 40, 40), 1));
        p.setBrush(QColor(150 - i * 25, 110 - i * 20, 70 - i * 10));
        p.drawRect(r);
        p.setBrush(QColor(225, 225, 220));
        p.drawRect(r.adjusted(9, 9, -9, -9));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(70, 150, 60));
    p.drawEllipse(QRectF(56, 56, 34, 34));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(70, 62, 6, 22));
    p.drawRect(QRectF(62, 70, 22, 6));
    return image;
}

bool KTButtonFrame::sendAction() const
{
    if (!m_target || m_action.isEmpty())
        return false;
    const QMetaObject *meta = m_target->metaObject();
    if (meta->indexOfMethod(QMetaObject::normalizedSignature(m_action + "(QString)")) >= 0)
        return QMetaObject::invokeMethod(m_target, m_action.constData(), Q_ARG(QString, m_name));
    if (meta->indexOfMethod(QMetaObject::normalizedSignature(m_action + "()")) >= 0)
        return QMetaObject::invokeMethod(m_target, m_action.constData());
    return false;
}
