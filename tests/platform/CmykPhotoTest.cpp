// CMYK photos become sRGB through their own profile, or the shipped press
// profile where they carry none, as LittleCMS converts the same inks.
#include "platform/imaging/CmykConversion.h"
#include "platform/imaging/ImageDecoder.h"
#include "support/ImagingTools.h"

#include <gtest/gtest.h>

#include <QColorSpace>

#include <array>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

#include <jpeglib.h>
#include <lcms2.h>
#include <tiffio.h>

using platform::CmykConversion;
using platform::ImageDecoder;

namespace {

// Patches of whole 8x8 blocks side by side: a JPEG of quality 100 keeps their inks.
constexpr int kSide = 16;
using Ink = std::array<uchar, 4>;
const std::vector<Ink> kInks = {{230, 26, 115, 0}, {0, 0, 0, 255},     {191, 173, 170, 230},
                                {0, 0, 0, 0},      {20, 200, 240, 10}, {128, 128, 128, 128}};
constexpr int kWidth = kSide * 6;

// A CMYK profile unlike the shipped one: each ink takes from its own primary.
QByteArray ownProfile()
{
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM toLab = cmsCreateTransform(srgb, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(profile, 2.4);
    cmsSetDeviceClass(profile, cmsSigOutputClass);
    cmsSetColorSpace(profile, cmsSigCmykData);
    cmsSetPCS(profile, cmsSigLabData);
    cmsPipeline *pipeline = cmsPipelineAlloc(nullptr, 4, 3);
    cmsStage *table = cmsStageAllocCLut16bit(nullptr, 9, 4, 3, nullptr);
    const auto sample = [](const cmsUInt16Number in[], cmsUInt16Number out[], void *transform) -> int {
        const double k = 1 - in[3] / 65535.0;
        const double rgb[3] = {(1 - 0.9 * in[0] / 65535.0) * k, (1 - in[1] / 65535.0) * std::sqrt(k),
                               (1 - 0.8 * in[2] / 65535.0) * k};
        cmsCIELab value;
        cmsDoTransform(transform, rgb, &value, 1);
        cmsFloat2LabEncodedV2(out, &value);
        return TRUE;
    };
    cmsStageSampleCLut16bit(table, sample, toLab, 0);
    cmsPipelineInsertStage(pipeline, cmsAT_END, table);
    cmsWriteTag(profile, cmsSigAToB0Tag, pipeline);
    cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    QByteArray icc(qsizetype(size), '\0');
    cmsSaveProfileToMem(profile, icc.data(), &size);
    cmsPipelineFree(pipeline);
    cmsCloseProfile(profile);
    cmsDeleteTransform(toLab);
    cmsCloseProfile(lab);
    cmsCloseProfile(srgb);
    return icc;
}

// LittleCMS's own colour of an ink.
QRgb expected(const QByteArray &icc, const Ink &ink)
{
    cmsHPROFILE cmyk = cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size()));
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM t = cmsCreateTransform(cmyk, TYPE_CMYK_8, srgb, TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
    uchar rgb[3] = {};
    cmsDoTransform(t, ink.data(), rgb, 1);
    cmsDeleteTransform(t);
    cmsCloseProfile(srgb);
    cmsCloseProfile(cmyk);
    return qRgb(rgb[0], rgb[1], rgb[2]);
}

int inkAt(int x, int channel)
{
    return kInks[size_t(x / kSide)][size_t(channel)];
}

// Adobe's JPEGs (an APP14 marker) store the inks inverted.
QByteArray jpegFile(bool adobe, const QByteArray &icc)
{
    jpeg_compress_struct c;
    jpeg_error_mgr errors;
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    unsigned char *bytes = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &bytes, &size);
    c.image_width = kWidth;
    c.image_height = kSide;
    c.input_components = 4;
    c.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 100, TRUE);
    c.write_Adobe_marker = adobe;
    jpeg_start_compress(&c, TRUE);
    if (!icc.isEmpty())
        jpeg_write_icc_profile(&c, reinterpret_cast<const JOCTET *>(icc.constData()), unsigned(icc.size()));
    std::vector<uchar> row(size_t(kWidth) * 4);
    for (int x = 0; x < kWidth * 4; ++x)
        row[size_t(x)] = uchar(adobe ? 255 - inkAt(x / 4, x % 4) : inkAt(x / 4, x % 4));
    for (int y = 0; y < kSide; ++y) {
        JSAMPROW line = row.data();
        jpeg_write_scanlines(&c, &line, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    QByteArray out(reinterpret_cast<const char *>(bytes), qsizetype(size));
    std::free(bytes);
    return out;
}

QByteArray tiffFile(int bits, bool planes, const QByteArray &icc)
{
    const QString path = testsupport::scratchFile(QStringLiteral("tif"));
    TIFF *t = TIFFOpen(QFile::encodeName(path).constData(), "w");
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, kSide);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 4);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_SEPARATED);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, planes ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 5);
    if (!icc.isEmpty())
        TIFFSetField(t, TIFFTAG_ICCPROFILE, uint32_t(icc.size()), icc.constData());
    const int perPixel = planes ? 1 : 4;
    std::vector<quint16> row(size_t(kWidth) * 4);
    for (int plane = 0; plane < (planes ? 4 : 1); ++plane) {
        for (int i = 0; i < kWidth * perPixel; ++i)
            row[size_t(i)] = quint16(inkAt(i / perPixel, planes ? plane : i % 4) * (bits == 16 ? 257 : 1));
        std::vector<uchar> bytes(size_t(kWidth) * 4 * 2);
        for (size_t i = 0; i < row.size(); ++i) {
            if (bits == 16)
                std::memcpy(&bytes[i * 2], &row[i], 2);
            else
                bytes[i] = uchar(row[i]);
        }
        for (int y = 0; y < kSide; ++y)
            TIFFWriteScanline(t, bytes.data(), uint32_t(y), uint16_t(plane));
    }
    TIFFClose(t);
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void be(QByteArray &out, quint32 v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.append(char((v >> (8 * i)) & 0xff));
}

// Photoshop keeps its inks inverted, its profile among its resources.
QByteArray psdFile(const QByteArray &icc)
{
    QByteArray out("8BPS");
    be(out, 1, 2);
    out.append(QByteArray(6, '\0'));
    // Channels, height, width, depth, mode, no colour mode data.
    for (const auto &[value, bytes] :
         std::initializer_list<std::pair<int, int>>{{4, 2}, {kSide, 4}, {kWidth, 4}, {8, 2}, {4, 2}, {0, 4}})
        be(out, quint32(value), bytes);
    const QByteArray padded = icc + QByteArray(icc.size() % 2, '\0');
    be(out, quint32(12 + padded.size()), 4);
    out += "8BIM";
    be(out, 0x040F, 2);
    be(out, 0, 2);
    be(out, quint32(icc.size()), 4);
    out += padded;
    be(out, 0, 4); // no layers
    be(out, 0, 2); // raw
    for (int channel = 0; channel < 4; ++channel)
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kWidth; ++x)
                out.append(char(255 - inkAt(x, channel)));
    return out;
}

} // namespace

TEST(CmykPhotos, TakeTheirColoursFromTheirProfileAsLittleCmsGivesThem)
{
    const QByteArray own = ownProfile();
    const QByteArray press = CmykConversion::standardProfile();
    ASSERT_FALSE(press.isEmpty()) << "the shipped press profile";
    const struct {
        const char *kind;
        QByteArray data;
        const QByteArray &profile;
    } cases[] = {
        {"JPEG", jpegFile(false, own), own},
        {"Adobe JPEG", jpegFile(true, own), own},
        {"TIFF", tiffFile(8, false, own), own},
        {"16-bit TIFF in planes", tiffFile(16, true, own), own},
        {"PSD", psdFile(own), own},
        {"Adobe JPEG without a profile", jpegFile(true, {}), press},
        {"TIFF without a profile", tiffFile(8, false, {}), press},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.kind);
        const ImageDecoder::Result decoded = ImageDecoder::decode(c.data);
        ASSERT_FALSE(decoded.image.isNull()) << decoded.error.description.toStdString();
        EXPECT_EQ(decoded.image.size(), QSize(kWidth, kSide));
        EXPECT_EQ(decoded.image.colorSpace(), QColorSpace(QColorSpace::SRgb));
        for (size_t patch = 0; patch < kInks.size(); ++patch) {
            const QRgb want = expected(c.profile, kInks[patch]);
            const QRgb got = decoded.image.pixel(int(patch) * kSide + kSide / 2, kSide / 2);
            EXPECT_LE(testsupport::channelDifference(got, want), 2)
                << "patch " << patch << ": " << qPrintable(QColor(got).name()) << " for "
                << qPrintable(QColor(want).name());
        }
    }
}
