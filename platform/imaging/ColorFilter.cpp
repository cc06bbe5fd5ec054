#include "platform/imaging/ColorFilter.h"

#include "platform/imaging/ParallelRows.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace platform {

namespace {

struct Tables {
    std::array<float, 256> toLinear;
    std::array<uchar, 4096> toSrgb;
    Tables()
    {
        for (int i = 0; i < 256; ++i) {
            const double c = i / 255.0;
            toLinear[size_t(i)] = float(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
        }
        for (int i = 0; i < 4096; ++i) {
            const double l = i / 4095.0;
            const double c = l <= 0.0031308 ? l * 12.92 : 1.055 * std::pow(l, 1.0 / 2.4) - 0.055;
            toSrgb[size_t(i)] = uchar(std::clamp(std::lround(c * 255.0), 0L, 255L));
        }
    }
};

const Tables &tables()
{
    static const Tables t;
    return t;
}

// Rec. 709 luminance weights.
constexpr float kR = 0.2126f;
constexpr float kG = 0.7152f;
constexpr float kB = 0.0722f;

enum class Kind { Controls, Exposure, Monochrome };

struct Step {
    Kind kind;
    float saturation = 1, brightness = 0, contrast = 1;
    float gain = 1;
    float color[3] = {0, 0, 0};
    float intensity = 0;
};

} // namespace

ColorFilter::ColorFilter(QString name)
    : m_name(std::move(name))
{
    setDefaults();
}

std::shared_ptr<ColorFilter> ColorFilter::filterWithName(const QString &name)
{
    if (name != QLatin1String(kColorControls) && name != QLatin1String(kExposureAdjust)
        && name != QLatin1String(kColorMonochrome))
        return nullptr;
    return std::shared_ptr<ColorFilter>(new ColorFilter(name));
}

void ColorFilter::setDefaults()
{
    m_values.clear();
    if (m_name == QLatin1String(kColorControls)) {
        m_values[kInputSaturation] = 1.0;
        m_values[kInputBrightness] = 0.0;
        m_values[kInputContrast] = 1.0;
    } else if (m_name == QLatin1String(kExposureAdjust)) {
        m_values[kInputEV] = 0.0;
    } else if (m_name == QLatin1String(kColorMonochrome)) {
        m_values[kInputColor] = QColor::fromRgbF(0.6f, 0.45f, 0.3f);
        m_values[kInputIntensity] = 1.0;
    }
}

QVariant ColorFilter::value(const QString &key) const
{
    if (key == QLatin1String(kFilterNameAttribute))
        return m_name;
    return m_values.value(key);
}

void ColorFilter::setValue(const QString &key, const QVariant &value)
{
    m_values[key] = value;
}

void ColorFilter::applyChain(const Chain &chain, QImage &image)
{
    std::vector<Step> steps;
    for (const auto &f : chain) {
        if (!f)
            continue;
        Step s;
        if (f->m_name == QLatin1String(kColorControls)) {
            s.kind = Kind::Controls;
            s.saturation = float(f->value(kInputSaturation).toDouble());
            s.brightness = float(f->value(kInputBrightness).toDouble());
            s.contrast = float(f->value(kInputContrast).toDouble());
            if (s.saturation == 1 && s.brightness == 0 && s.contrast == 1)
                continue;
        } else if (f->m_name == QLatin1String(kExposureAdjust)) {
            s.kind = Kind::Exposure;
            s.gain = float(std::pow(2.0, f->value(kInputEV).toDouble()));
            if (s.gain == 1)
                continue;
        } else {
            s.kind = Kind::Monochrome;
            const QColor c = f->value(kInputColor).value<QColor>();
            const auto &lin = tables().toLinear;
            s.color[0] = lin[size_t(std::clamp(c.red(), 0, 255))];
            s.color[1] = lin[size_t(std::clamp(c.green(), 0, 255))];
            s.color[2] = lin[size_t(std::clamp(c.blue(), 0, 255))];
            s.intensity = float(f->value(kInputIntensity).toDouble());
            if (s.intensity == 0)
                continue;
        }
        steps.push_back(s);
    }
    if (steps.empty() || image.isNull())
        return;
    if (image.format() != QImage::Format_ARGB32_Premultiplied)
        image.convertTo(QImage::Format_ARGB32_Premultiplied);
    const int w = image.width();
    uchar *bits = image.bits();
    const qsizetype bpl = image.bytesPerLine();
    const auto &lin = tables().toLinear;
    const auto &toSrgb = tables().toSrgb;
    const auto encode = [&toSrgb](float v) {
        v = std::clamp(v, 0.0f, 1.0f);
        return int(toSrgb[size_t(v * 4095.0f + 0.5f)]);
    };
    // Filtering in float costs far more per pixel than the copies the row
    // threshold was set for: pictures the size of a moulding tile already
    // pay for the threads.
    parallelRows(image.height(), (long long)w * image.height() * 16, [&](int first, int end) {
        // A row at a time, channel by channel: each step runs over the whole
        // row (in the same order of operations as one pixel at a time), so
        // the arithmetic runs in vector registers.
        std::vector<float> channels(size_t(w) * 3);
        float *__restrict red = channels.data();
        float *__restrict green = red + w;
        float *__restrict blue = green + w;
        for (int y = first; y < end; ++y) {
            auto *line = reinterpret_cast<QRgb *>(bits + bpl * y);
            for (int x = 0; x < w; ++x) {
                const QRgb p = line[x];
                const int a = qAlpha(p);
                int r8 = qRed(p), g8 = qGreen(p), b8 = qBlue(p);
                if (a != 255 && a != 0) {
                    r8 = std::min(255, (r8 * 255 + a / 2) / a);
                    g8 = std::min(255, (g8 * 255 + a / 2) / a);
                    b8 = std::min(255, (b8 * 255 + a / 2) / a);
                }
                red[x] = lin[size_t(r8)];
                green[x] = lin[size_t(g8)];
                blue[x] = lin[size_t(b8)];
            }
            for (const Step &s : steps) {
                switch (s.kind) {
                case Kind::Controls:
                    for (int x = 0; x < w; ++x) {
                        const float l = kR * red[x] + kG * green[x] + kB * blue[x];
                        float r = l + (red[x] - l) * s.saturation;
                        float g = l + (green[x] - l) * s.saturation;
                        float b = l + (blue[x] - l) * s.saturation;
                        r += s.brightness;
                        g += s.brightness;
                        b += s.brightness;
                        red[x] = (r - 0.5f) * s.contrast + 0.5f;
                        green[x] = (g - 0.5f) * s.contrast + 0.5f;
                        blue[x] = (b - 0.5f) * s.contrast + 0.5f;
                    }
                    break;
                case Kind::Exposure:
                    for (int x = 0; x < w; ++x) {
                        red[x] *= s.gain;
                        green[x] *= s.gain;
                        blue[x] *= s.gain;
                    }
                    break;
                case Kind::Monochrome:
                    for (int x = 0; x < w; ++x) {
                        const float l = std::clamp(kR * red[x] + kG * green[x] + kB * blue[x], 0.0f, 1.0f);
                        red[x] = red[x] + (l * s.color[0] - red[x]) * s.intensity;
                        green[x] = green[x] + (l * s.color[1] - green[x]) * s.intensity;
                        blue[x] = blue[x] + (l * s.color[2] - blue[x]) * s.intensity;
                    }
                    break;
                }
            }
            for (int x = 0; x < w; ++x) {
                const int a = qAlpha(line[x]);
                if (a == 0)
                    continue;
                int r = encode(red[x]), g = encode(green[x]), b = encode(blue[x]);
                if (a != 255) {
                    r = (r * a + 127) / 255;
                    g = (g * a + 127) / 255;
                    b = (b * a + 127) / 255;
                }
                line[x] = qRgba(r, g, b, a);
            }
        }
    });
}

} // namespace platform
