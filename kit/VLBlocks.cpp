#include "kit/VLBlocks.h"

#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/ThreadPools.h"
#include "platform/render/TransparencyLayer.h"

#include <QCoreApplication>
#include <QMetaMethod>
#include <QPainter>
#include <QRandomGenerator>
#include <QThread>
#include <QUuid>

#include <atomic>

void VLRunBlockInBackground(std::function<void()> block)
{
    platform::runInBackground(std::move(block));
}

void VLRunBlockOnMainThread(bool wait, std::function<void()> block)
{
    platform::runOnMainThread(std::move(block), wait);
}

void VLRunBlockOnThread(QThread *thread, bool wait, std::function<void()> block)
{
    if (!block || !thread)
        return;
    if (thread == QThread::currentThread() && wait) {
        block();
        return;
    }
    if (!thread->isRunning()) {
        // Waiting on a thread that never serves its queue would hang forever.
        platform::logLine(QStringLiteral("Warning: cannot run a block on a thread that is not running"));
        return;
    }
    // A carrier object living in `thread` takes the call there and goes with it.
    auto *carrier = new QObject;
    carrier->moveToThread(thread);
    platform::runOnThreadOf(
        carrier,
        [carrier, block = std::move(block)] {
            block();
            delete carrier;
        },
        wait);
}

void VLRunBlockWithAutoreleasePool(const std::function<void()> &block)
{
    if (block)
        block();
}

void VLDrawBlockInTransparencyLayer(QPainter *target, const std::function<void(QPainter *)> &block)
{
    if (!block)
        return;
    if (!target || !target->isActive()) {
        block(target);
        return;
    }
    platform::TransparencyLayer layer;
    QPainter *painter = layer.begin(target);
    block(painter);
    layer.end();
}

void VLRunBlockParallelized(qint64 count, std::function<void(qint64)> block)
{
    if (!block)
        return;
    for (qint64 index = 0; index < count; ++index)
        platform::runInBackground([block, index] { block(index); });
}

void VLPerformBlockAfterDelay(std::function<void()> block, double delay)
{
    platform::runAfterDelay(delay, std::move(block));
}

namespace NSObjectVLGUID {

QString getGUID()
{
    static std::atomic<quint64> counter{QRandomGenerator::global()->generate64() >> 8};
    return QStringLiteral("%1-%2-%3")
        .arg(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper())
        .arg(QCoreApplication::applicationPid())
        .arg(++counter, 16, 16, QLatin1Char('0'))
        .toUpper();
}

bool performSelectorNamedWithObject(QObject *receiver, const QString &name, const QVariant &object)
{
    if (!receiver || name.isEmpty())
        return false;
    const QMetaObject *meta = receiver->metaObject();
    const QByteArray wanted = name.toUtf8();
    for (int i = 0; i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        if (method.name() != wanted || method.access() == QMetaMethod::Private)
            continue;
        if (method.parameterCount() == 0)
            return method.invoke(receiver, Qt::DirectConnection);
        if (method.parameterCount() == 1) {
            const int type = method.parameterType(0);
            if (type == QMetaType::QVariant)
                return method.invoke(receiver, Qt::DirectConnection, Q_ARG(QVariant, object));
            QVariant converted = object;
            if (type != QMetaType::UnknownType && converted.convert(QMetaType(type)))
                return method.invoke(receiver, Qt::DirectConnection,
                                     QGenericArgument(converted.typeName(), converted.constData()));
        }
    }
    return false;
}

} // namespace NSObjectVLGUID
