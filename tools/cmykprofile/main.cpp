// Writes the CMYK profile Kantelo turns a CMYK photo into colours with when
// the photo carries none: a model of offset printing on coated paper, fitted
// to the press's published characterisation data (FOGRA39: CMYK values and
// the colours measured for them).
//   kantelo-cmyk-profile CHARACTERISATION.ti3 PROFILE.icc
//
// The model is Yule-Nielsen's form of Neugebauer's: a halftone's colour is
// the mix of its sixteen overprints (paper, each ink, each overlap) weighted
// by how much of the paper each covers (Demichel), mixed in XYZ raised to
// 1/n, with each ink's effective coverage taken from its own tone ramp. The
// factor n is the one that fits the whole data best.

#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

namespace {

using Xyz = std::array<double, 3>;
using Cmyk = std::array<double, 4>; // percent of each ink

struct Patch {
    Cmyk ink;
    Xyz xyz; // measured, 0 to 100
};

constexpr Xyz kD50{96.42, 100.0, 82.49};
constexpr int kGridPoints = 17;

std::array<double, 3> lab(const Xyz &xyz, const Xyz &white)
{
    const auto f = [](double t) { return t > 216.0 / 24389.0 ? std::cbrt(t) : (24389.0 / 27.0 * t + 16.0) / 116.0; };
    const double fx = f(xyz[0] / white[0]), fy = f(xyz[1] / white[1]), fz = f(xyz[2] / white[2]);
    return {116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
}

double distance(const std::array<double, 3> &a, const std::array<double, 3> &b)
{
    return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
}

class PressModel
{
public:
    PressModel(const std::vector<Patch> &patches, double n)
        : m_n(n)
    {
        // The overprints: each ink at 0 or 100 %.
        for (int corner = 0; corner < 16; ++corner) {
            Xyz sum{};
            int count = 0;
            for (const Patch &p : patches) {
                bool match = true;
                for (int ink = 0; ink < 4; ++ink)
                    match = match && p.ink[size_t(ink)] == ((corner >> ink) & 1 ? 100.0 : 0.0);
                if (!match)
                    continue;
                for (int j = 0; j < 3; ++j)
                    sum[size_t(j)] += p.xyz[size_t(j)];
                ++count;
            }
            if (count == 0) {
                m_valid = false;
                return;
            }
            for (int j = 0; j < 3; ++j)
                m_corners[size_t(corner)][size_t(j)] = std::pow(sum[size_t(j)] / count, 1.0 / n);
        }
        // Each ink's effective coverage along its own ramp, the others at 0.
        for (int ink = 0; ink < 4; ++ink) {
            std::map<double, std::pair<double, int>> byTone;
            const Xyz &paper = m_corners[0];
            const Xyz &solid = m_corners[size_t(1 << ink)];
            for (const Patch &p : patches) {
                bool alone = true;
                for (int other = 0; other < 4; ++other)
                    alone = alone && (other == ink || p.ink[size_t(other)] == 0);
                if (!alone)
                    continue;
                // The coverage whose mix of paper and solid is nearest the measurement.
                double num = 0, den = 0;
                for (int j = 0; j < 3; ++j) {
                    const double measured = std::pow(p.xyz[size_t(j)], 1.0 / n);
                    num += (paper[size_t(j)] - measured) * (paper[size_t(j)] - solid[size_t(j)]);
                    den += (paper[size_t(j)] - solid[size_t(j)]) * (paper[size_t(j)] - solid[size_t(j)]);
                }
                auto &entry = byTone[p.ink[size_t(ink)]];
                entry.first += den > 0 ? num / den : 0;
                entry.second += 1;
            }
            auto &curve = m_curves[size_t(ink)];
            double highest = 0;
            for (const auto &[tone, entry] : byTone) {
                const double coverage = tone <= 0     ? 0
                                        : tone >= 100 ? 1
                                                      : std::clamp(entry.first / entry.second, highest, 1.0);
                highest = std::max(highest, coverage);
                curve.push_back({tone, coverage});
            }
            if (curve.size() < 2 || curve.front().first != 0 || curve.back().first != 100)
                m_valid = false;
        }
    }

    bool valid() const { return m_valid; }

    Xyz xyz(const Cmyk &ink) const
    {
        std::array<double, 4> a{};
        for (int i = 0; i < 4; ++i)
            a[size_t(i)] = coverage(i, ink[size_t(i)]);
        Xyz sum{};
        for (int corner = 0; corner < 16; ++corner) {
            double weight = 1;
            for (int i = 0; i < 4; ++i)
                weight *= (corner >> i) & 1 ? a[size_t(i)] : 1 - a[size_t(i)];
            for (int j = 0; j < 3; ++j)
                sum[size_t(j)] += weight * m_corners[size_t(corner)][size_t(j)];
        }
        for (double &v : sum)
            v = std::pow(std::max(v, 0.0), m_n);
        return sum;
    }

    Xyz paper() const { return xyz({0, 0, 0, 0}); }

private:
    double coverage(int ink, double tone) const
    {
        const auto &curve = m_curves[size_t(ink)];
        tone = std::clamp(tone, 0.0, 100.0);
        for (size_t i = 1; i < curve.size(); ++i) {
            if (tone <= curve[i].first) {
                const auto &[t0, a0] = curve[i - 1];
                const auto &[t1, a1] = curve[i];
                return t1 > t0 ? a0 + (a1 - a0) * (tone - t0) / (t1 - t0) : a1;
            }
        }
        return 1;
    }

    double m_n;
    bool m_valid = true;
    std::array<Xyz, 16> m_corners{};
    std::array<std::vector<std::pair<double, double>>, 4> m_curves;
};

std::vector<Patch> readPatches(const char *path)
{
    std::vector<Patch> patches;
    cmsHANDLE it8 = cmsIT8LoadFromFile(nullptr, path);
    if (!it8)
        return patches;
    const char *names[7] = {"CMYK_C", "CMYK_M", "CMYK_Y", "CMYK_K", "XYZ_X", "XYZ_Y", "XYZ_Z"};
    int columns[7];
    bool found = true;
    for (int i = 0; i < 7; ++i) {
        columns[i] = cmsIT8FindDataFormat(it8, names[i]);
        found = found && columns[i] >= 0;
    }
    const int count = int(cmsIT8GetPropertyDbl(it8, "NUMBER_OF_SETS"));
    for (int row = 0; found && row < count; ++row) {
        Patch p;
        for (int i = 0; i < 4; ++i)
            p.ink[size_t(i)] = cmsIT8GetDataRowColDbl(it8, row, columns[i]);
        for (int i = 0; i < 3; ++i)
            p.xyz[size_t(i)] = cmsIT8GetDataRowColDbl(it8, row, columns[4 + i]);
        patches.push_back(p);
    }
    cmsIT8Free(it8);
    return patches;
}

double meanError(const PressModel &model, const std::vector<Patch> &patches, double *worst)
{
    double sum = 0;
    *worst = 0;
    for (const Patch &p : patches) {
        const double e = distance(lab(model.xyz(p.ink), kD50), lab(p.xyz, kD50));
        sum += e;
        *worst = std::max(*worst, e);
    }
    return sum / double(patches.size());
}

struct Sampling {
    const PressModel *model;
    Xyz paper;
};

// One node of the table: the colour relative to the paper, which the
// colorimetric and perceptual renderings take as white.
int sample(const cmsUInt16Number in[], cmsUInt16Number out[], void *cargo)
{
    const auto *s = static_cast<const Sampling *>(cargo);
    Cmyk ink;
    for (int i = 0; i < 4; ++i)
        ink[size_t(i)] = in[i] * 100.0 / 65535.0;
    const Xyz xyz = s->model->xyz(ink);
    Xyz relative;
    for (int j = 0; j < 3; ++j)
        relative[size_t(j)] = xyz[size_t(j)] / s->paper[size_t(j)] * kD50[size_t(j)];
    const auto l = lab(relative, kD50);
    const cmsCIELab value{l[0], l[1], l[2]};
    cmsFloat2LabEncodedV2(out, &value);
    return TRUE;
}

bool setText(cmsHPROFILE profile, cmsTagSignature tag, const char *text)
{
    cmsMLU *mlu = cmsMLUalloc(nullptr, 1);
    const bool ok = mlu && cmsMLUsetASCII(mlu, "en", "US", text) && cmsWriteTag(profile, tag, mlu);
    cmsMLUfree(mlu);
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: kantelo-cmyk-profile CHARACTERISATION.ti3 PROFILE.icc\n");
        return 2;
    }
    const std::vector<Patch> patches = readPatches(argv[1]);
    if (patches.empty()) {
        std::fprintf(stderr, "kantelo-cmyk-profile: no CMYK and XYZ measurements in %s\n", argv[1]);
        return 1;
    }
    double bestN = 0, bestError = 1e9, bestWorst = 0;
    for (int step = 0; step <= 40; ++step) {
        const double n = 1.0 + step * 0.05;
        const PressModel model(patches, n);
        if (!model.valid())
            continue;
        double worst = 0;
        const double error = meanError(model, patches, &worst);
        if (error < bestError) {
            bestError = error;
            bestWorst = worst;
            bestN = n;
        }
    }
    if (bestN == 0) {
        std::fprintf(stderr, "kantelo-cmyk-profile: %s lacks the overprints or tone ramps of the model\n", argv[1]);
        return 1;
    }
    const PressModel model(patches, bestN);
    std::printf("press model: n %.2f, mean error %.2f, largest %.2f (CIELAB) over %zu patches\n", bestN, bestError,
                bestWorst, patches.size());

    cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(profile, 2.4);
    cmsSetDeviceClass(profile, cmsSigOutputClass);
    cmsSetColorSpace(profile, cmsSigCmykData);
    cmsSetPCS(profile, cmsSigLabData);
    cmsSetHeaderRenderingIntent(profile, INTENT_PERCEPTUAL);
    const Xyz paper = model.paper();
    const cmsCIEXYZ white{paper[0] / 100.0, paper[1] / 100.0, paper[2] / 100.0};
    Sampling sampling{&model, paper};
    cmsPipeline *toLab = cmsPipelineAlloc(nullptr, 4, 3);
    cmsStage *table = cmsStageAllocCLut16bit(nullptr, kGridPoints, 4, 3, nullptr);
    bool ok = toLab && table && cmsStageSampleCLut16bit(table, sample, &sampling, 0)
              && cmsPipelineInsertStage(toLab, cmsAT_END, table);
    if (!ok && table)
        cmsStageFree(table);
    ok = ok && setText(profile, cmsSigProfileDescriptionTag, "Coated press CMYK (a model of FOGRA39)")
         && setText(profile, cmsSigCopyrightTag, "No copyright, use freely")
         && cmsWriteTag(profile, cmsSigMediaWhitePointTag, &white) && cmsWriteTag(profile, cmsSigAToB0Tag, toLab)
         && cmsSaveProfileToFile(profile, argv[2]);
    cmsPipelineFree(toLab);
    cmsCloseProfile(profile);
    if (!ok) {
        std::fprintf(stderr, "kantelo-cmyk-profile: could not write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
