#include "platform/codec/PhotoshopResources.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>

namespace platform {

namespace {

void appendBE16(QByteArray &out, quint16 v)
{
    const quint16 be = qToBigEndian(v);
    out.append(reinterpret_cast<const char *>(&be), 2);
}

void appendBE32(QByteArray &out, quint32 v)
{
    const quint32 be = qToBigEndian(v);
    out.append(reinterpret_cast<const char *>(&be), 4);
}

} // namespace

QByteArray PhotoshopResources::block(quint16 id, const QByteArray &data)
{
    QByteArray out;
    out.reserve(12 + data.size() + 1);
    out.append("8BIM", 4);
    appendBE16(out, id);
    out.append('\0'); // empty Pascal name...
    out.append('\0'); // ...padded to even length
    appendBE32(out, quint32(data.size()));
    out.append(data);
    if (data.size() % 2)
        out.append('\0');
    return out;
}

QByteArray PhotoshopResources::resolutionInfo(double dpi)
{
    // Fixed 16.16 pixels per inch, unit 1 (inch), width/height shown in inches (1).
    const quint32 fixed = quint32(std::lround(std::clamp(dpi, 0.0, 32767.0) * 65536.0));
    QByteArray out;
    for (int axis = 0; axis < 2; ++axis) {
        appendBE32(out, fixed);
        appendBE16(out, 1);
        appendBE16(out, 1);
    }
    return out;
}

} // namespace platform
