#include "platform/imaging/CmykConversion.h"

#include "platform/Bundle.h"
#include "platform/imaging/ParallelRows.h"

#include <QColorSpace>
#include <QCryptographicHash>
#include <QFile>

#include <lcms2.h>

#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

namespace platform {

namespace {

#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr cmsUInt32Number kRgbOut = TYPE_BGRA_8;
#else
constexpr cmsUInt32Number kRgbOut = TYPE_ARGB_8;
#endif

cmsUInt32Number inputFormat(int bits, bool inverted)
{
    if (bits == 16)
        return inverted ? TYPE_CMYK_16_REV : TYPE_CMYK_16;
    return inverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8;
}

// A transform into sRGB from a CMYK profile; null when the profile is none.
cmsHTRANSFORM transformFrom(const QByteArray &icc, int bits, bool inverted)
{
    if (icc.isEmpty())
        return nullptr;
    cmsHPROFILE cmyk = cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size()));
    if (!cmyk)
        return nullptr;
    cmsHTRANSFORM transform = nullptr;
    if (cmsGetColorSpace(cmyk) == cmsSigCmykData) {
        cmsHPROFILE srgb = cmsCreate_sRGBProfile();
        // No one-pixel cache: threads share the transform.
        if (srgb)
            transform = cmsCreateTransform(cmyk, inputFormat(bits, inverted), srgb, kRgbOut, INTENT_PERCEPTUAL,
                                           cmsFLAGS_NOCACHE);
        if (srgb)
            cmsCloseProfile(srgb);
    }
    cmsCloseProfile(cmyk);
    return transform;
}

// Making a transform samples the whole profile: pictures of one profile
// (a batch's, a folder's thumbnails) share theirs.
struct Kept {
    QByteArray key;
    std::shared_ptr<const CmykConversion> conversion;
};
std::mutex g_keptLock;
std::deque<Kept> g_kept;
constexpr size_t kKeptConversions = 4;

} // namespace

QByteArray CmykConversion::standardProfile()
{
    static const QByteArray bytes = [] {
        QFile file(Bundle::pathForResource(QStringLiteral("CoatedPressCMYK"), QStringLiteral("icc")));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    return bytes;
}

std::shared_ptr<const CmykConversion> CmykConversion::make(const QByteArray &icc, int bits, bool inverted)
{
    bits = bits == 16 ? 16 : 8;
    const QByteArray key = QCryptographicHash::hash(icc, QCryptographicHash::Sha1) + char(bits) + char(inverted);
    {
        const std::lock_guard<std::mutex> guard(g_keptLock);
        for (const Kept &kept : g_kept) {
            if (kept.key == key)
                return kept.conversion;
        }
    }
    std::shared_ptr<CmykConversion> made(new CmykConversion);
    made->m_bits = bits;
    made->m_inverted = inverted;
    made->m_transform = transformFrom(icc, bits, inverted);
    made->m_ownProfile = made->m_transform != nullptr;
    if (!made->m_transform)
        made->m_transform = transformFrom(standardProfile(), bits, inverted);
    const std::lock_guard<std::mutex> guard(g_keptLock);
    g_kept.push_front({key, made});
    if (g_kept.size() > kKeptConversions)
        g_kept.pop_back();
    return made;
}

CmykConversion::~CmykConversion()
{
    if (m_transform)
        cmsDeleteTransform(static_cast<cmsHTRANSFORM>(m_transform));
}

void CmykConversion::toRgb(const void *cmyk, QRgb *out, int count) const
{
    if (count <= 0)
        return;
    if (m_transform) {
        cmsDoTransform(static_cast<cmsHTRANSFORM>(m_transform), cmyk, out, cmsUInt32Number(count));
        for (int i = 0; i < count; ++i)
            out[i] |= 0xff000000u;
        return;
    }
    // Without any profile the inks are taken for what they hide of the paper.
    const auto ink = [this, cmyk](int i, int channel) -> unsigned {
        unsigned v = m_bits == 16 ? unsigned(static_cast<const quint16 *>(cmyk)[i * 4 + channel]) / 257
                                  : unsigned(static_cast<const uchar *>(cmyk)[i * 4 + channel]);
        return m_inverted ? 255 - v : v;
    };
    for (int i = 0; i < count; ++i) {
        const unsigned k = 255 - ink(i, 3);
        out[i] =
            qRgb(int((255 - ink(i, 0)) * k / 255), int((255 - ink(i, 1)) * k / 255), int((255 - ink(i, 2)) * k / 255));
    }
}

void CmykConversion::convertInPlace(QImage &image) const
{
    if (image.isNull() || image.depth() != 32 || m_bits != 8)
        return;
    const int width = image.width();
    uchar *bits = image.bits();
    const qsizetype bpl = image.bytesPerLine();
    parallelRows(image.height(), qint64(width) * image.height(), [&](int first, int end) {
        std::vector<uchar> row(size_t(width) * 4);
        for (int y = first; y < end; ++y) {
            uchar *line = bits + bpl * y;
            // The samples are read before the colours are written over them.
            std::memcpy(row.data(), line, row.size());
            toRgb(row.data(), reinterpret_cast<QRgb *>(line), width);
        }
    });
    image.setColorSpace(QColorSpace(QColorSpace::SRgb));
}

} // namespace platform
