// Export end to end, as a user runs it: the real program as a process,
// `kantelo -template=NAME -process photo.jpg`, on a copy of a generated
// 6000 x 4000 camera-like JPEG, against the floor of libjpeg-turbo alone:
// `djpeg photo.jpg` plus `cjpeg -quality 90` of a bitmap the framed size,
// both as processes, interleaved in the same run, median of the pairs.
//
// Every built-in design runs in a profile of the benchmark's own (temporary
// HOME and XDG folders), imported by the program's first run there; two more
// designs live in a second profile, with their frames in its frame library:
// a moulding with a mat, and a full frame with a mat, every shadow on, the
// outer one exported. The program's own timing log (KANTELO_TIMING_LOG) gives
// its phases; the peak memory is the child's own (/usr/bin/time). Each design
// gets a row; the result is the worst built-in design's time over the floor's.
// KANTELO_BENCH_PAIRS sets the interleaved pairs per design (3 by default).
// --quick: a 1200 x 800 photo, one pair, the first built-in design only.
#include "bench/Processes.h"
#include "bench/Quick.h"
#include "design/KTColorMatLayer.h"
#include "design/KTFrameLayer.h"
#include "design/KTFullFrameLayer.h"
#include "design/KTMoldingFrameLayer.h"
#include "design/KTTemplate.h"
#include "design/KTTemplatePackage.h"
#include "design/TemplatesStore.h"
#include "design/Variation.h"
#include "platform/Bundle.h"
#include "platform/objectstore/ManagedObjectContext.h"
#include "scenes/SceneLibrary.h"
#include "scenes/ScenePictures.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <vector>

#include <time.h>

namespace {

double nowMs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

struct Run {
    bool ok = false;
    double startMs = 0;
    double ms = 0;
    long peakKb = 0;
};

// Runs a program to its end; stdout to `out` when given. Its peak memory
// comes from /usr/bin/time: a child spawned from here would carry this
// process's own peak in its figures.
Run spawn(const QStringList &command, const QString &out, const QString &memoryFile)
{
    Run run;
    run.startMs = nowMs();
    const int status =
        bench::runToEnd(QStringList{QStringLiteral("/usr/bin/time"), QStringLiteral("-f"), QStringLiteral("%M"),
                                    QStringLiteral("-o"), memoryFile} +
                            command,
                        QString(), out);
    if (status < 0)
        return run;
    run.ms = nowMs() - run.startMs;
    run.ok = status == 0;
    QFile memory(memoryFile);
    if (memory.open(QIODevice::ReadOnly))
        run.peakKb = memory.readAll().trimmed().split('\n').last().toLong();
    return run;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The marks of one run of the program, by name: the time, and the peak
// memory so far (MB) under the name with "@mem" added.
std::map<QString, double> readMarks(const QString &path)
{
    std::map<QString, double> marks;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return marks;
    for (const QByteArray &line : f.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const QString name = fields.isEmpty() ? QString() : QString::fromLatin1(fields[0]);
        if (fields.size() < 2 || marks.count(name))
            continue;
        marks[name] = fields[1].toDouble();
        if (fields.size() >= 3)
            marks[name + QStringLiteral("@mem")] = fields[2].toDouble() / 1024.0;
    }
    return marks;
}

struct Design {
    QString name;
    QString what;
    QString dataHome; // XDG_DATA_HOME of the profile that holds it
    bool builtIn = false;
};
const char *const kMoulding = "Bench Moulding";
const char *const kFullFrame = "Bench Full Frame";

std::shared_ptr<KTFrameLayer> layerOf(Frame *frame)
{
    auto layer = frame ? KTFrameLayer::frameLayerFromFrame(frame) : nullptr;
    if (!layer || !layer->imagesLoaded()) {
        std::fprintf(stderr, "a frame layer could not be made\n");
        std::exit(3);
    }
    layer->setDropShadow(true);
    return layer;
}

std::shared_ptr<KTColorMatLayer> matLayer(scenes::SceneLibrary &library)
{
    auto mat = std::static_pointer_cast<KTColorMatLayer>(layerOf(library.colorMat(QStringLiteral("Cream"),
                                                                                  QColor(236, 228, 210))));
    for (auto set : {&KTColorMatLayer::setLeftWidth, &KTColorMatLayer::setRightWidth, &KTColorMatLayer::setTopWidth,
                     &KTColorMatLayer::setBottomWidth})
        (mat.get()->*set)(0.08);
    mat->setBevelWidth(0.01);
    return mat;
}

// The profile's frame library and stored designs, written before any run.
void makeProfile(const QString &support, const QString &pictures)
{
    scenes::SceneLibrary library(support);
    const QDir dir(pictures);
    const char *sides[] = {"Left Image", "Top Image", "Right Image", "Bottom Image"};
    QList<QPair<QString, QString>> sidePictures;
    for (int which = 0; which < 4; ++which) {
        const QString path = dir.filePath(QStringLiteral("side%1.png").arg(which));
        scenes::mouldingSide(which, 4).save(path);
        sidePictures.append({QString::fromLatin1(sides[which]), path});
    }
    const QString full = dir.filePath(QStringLiteral("full.png"));
    scenes::fullFramePicture(3000, 2000, 0.05).save(full);
    const QString small = dir.filePath(QStringLiteral("small.png"));
    scenes::photo(300, 200).save(small);

    TemplatesStore templates(support);
    platform::ManagedObjectContext *designs = templates.templatesManagedObjectContext();
    if (!library.moc() || !designs) {
        std::fprintf(stderr, "the profile's stores could not be made\n");
        std::exit(3);
    }
    const auto store = [&](const char *name, const std::shared_ptr<KTFrameLayer> &outer) {
        auto design = std::make_shared<KTTemplate>();
        design->importImage(QUrl::fromLocalFile(small));
        design->addTopmostFrameLayer(matLayer(library));
        design->addTopmostFrameLayer(outer);
        design->setExportExternalShadow(true);
        design->setName(QString::fromLatin1(name));
        Variation *variation = KTTemplatePackage::variationFromTemplate(design.get(), designs);
        if (!variation) {
            std::fprintf(stderr, "the design could not be stored\n");
            std::exit(3);
        }
        variation->setName(QString::fromLatin1(name));
    };
    auto moulding = std::static_pointer_cast<KTMoldingFrameLayer>(
        layerOf(library.frame(QStringLiteral("Moulding"), QStringLiteral("Bench moulding"), sidePictures)));
    scenes::applyMouldingSettings(*moulding, 0);
    moulding->setFrameWidth(0.1);
    store(kMoulding, moulding);
    store(kFullFrame, layerOf(library.frame(QString::fromLatin1(KTFrameLayer::kFullFrameTypeName),
                                            QStringLiteral("Bench full frame"),
                                            {{QString::fromLatin1(KTFullFrameLayer::kLandscapeImageAttribute), full}})));
    platform::Error error;
    if (!library.moc()->save(&error) || !designs->save(&error)) {
        std::fprintf(stderr, "the profile's stores could not be saved: %s\n", qPrintable(error.description));
        std::exit(3);
    }
}

bool copyFile(const QString &from, const QString &to)
{
    QFile::remove(to);
    return QFile::copy(from, to);
}

} // namespace

int main(int argc, char **argv)
{
    // Everything, this process's stores and the children, in a profile of its own.
    QTemporaryDir root;
    const QDir base(root.path());
    for (const char *sub : {"home", "config", "data", "data-builtin", "cache", "runtime", "work"})
        base.mkpath(QString::fromLatin1(sub));
    qputenv("HOME", base.filePath(QStringLiteral("home")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", base.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", base.filePath(QStringLiteral("data")).toLocal8Bit());
    qputenv("XDG_CACHE_HOME", base.filePath(QStringLiteral("cache")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", base.filePath(QStringLiteral("runtime")).toLocal8Bit());
    QFile::setPermissions(base.filePath(QStringLiteral("runtime")), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                                        | QFileDevice::ExeOwner);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const bool quick = bench::takeQuickFlag(argc, argv);
    QGuiApplication app(argc, argv);
    const int photoWidth = quick ? 1200 : 6000;
    const int photoHeight = quick ? 800 : 4000;

    const QString program = qEnvironmentVariableIsSet("KANTELO_PROGRAM")
                                ? qEnvironmentVariable("KANTELO_PROGRAM")
                                : QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../bin/kantelo"));
    if (!QFileInfo(program).isExecutable()) {
        std::printf("no program at %s\n", qPrintable(program));
        return 1;
    }
    int pairs = quick ? 1 : 3;
    if (qEnvironmentVariableIsSet("KANTELO_BENCH_PAIRS"))
        pairs = std::max(1, qEnvironmentVariableIntValue("KANTELO_BENCH_PAIRS"));
    const QDir work(base.filePath(QStringLiteral("work")));
    const QString photo = work.filePath(QStringLiteral("photo.jpg"));
    if (!scenes::writeCameraPhoto(photo, photoWidth, photoHeight)) {
        std::printf("the photo could not be written\n");
        return 1;
    }
    const QString benchData = base.filePath(QStringLiteral("data"));
    const QString builtInData = base.filePath(QStringLiteral("data-builtin"));
    makeProfile(QDir(benchData).filePath(QStringLiteral("Kantelo")), work.path());
    const QString timing = work.filePath(QStringLiteral("timing.log"));
    const QString memory = work.filePath(QStringLiteral("memory.txt"));
    const QString copy = work.filePath(QStringLiteral("framed.jpg"));

    // The built-in designs: the first run in their profile imports them (untimed).
    const QList<QUrl> builtIns = TemplatesStore::builtInTemplateURLs();
    if (builtIns.isEmpty()) {
        std::printf("no built-in designs under %s\n", qPrintable(platform::Bundle::resourcePath()));
        return 1;
    }
    qputenv("XDG_DATA_HOME", builtInData.toLocal8Bit());
    copyFile(photo, copy);
    const QString firstName = QFileInfo(builtIns.first().toLocalFile()).completeBaseName();
    if (!spawn({program, QStringLiteral("-template=%1").arg(firstName), QStringLiteral("-process"), copy}, QString(),
               memory)
             .ok) {
        std::printf("the first run (%s) failed\n", qPrintable(firstName));
        return 1;
    }
    std::vector<Design> designs;
    {
        TemplatesStore store(QDir(builtInData).filePath(QStringLiteral("Kantelo")));
        const std::optional<QStringList> names =
            Variation::namesOfAllVariationsInMOC(store.templatesManagedObjectContext());
        for (const QString &name : names.value_or(QStringList()))
            designs.push_back({name, QStringLiteral("built-in"), builtInData, true});
    }
    if (designs.size() < size_t(builtIns.size())) {
        std::printf("the first run imported %zu of %lld built-in designs\n", designs.size(),
                    qlonglong(builtIns.size()));
        return 1;
    }
    std::sort(designs.begin(), designs.end(), [](const Design &a, const Design &b) { return a.name < b.name; });
    if (quick)
        designs.resize(1);
    designs.push_back({QString::fromLatin1(kMoulding), QStringLiteral("moulding + mat, all shadows"), benchData});
    designs.push_back({QString::fromLatin1(kFullFrame), QStringLiteral("full frame + mat, all shadows"), benchData});

    qputenv("KANTELO_TIMING_LOG", timing.toLocal8Bit());
    std::printf("photo: %d x %d camera-like JPEG q90 with EXIF, %.1f MB; %d pairs each\n", photoWidth, photoHeight,
                QFile(photo).size() / 1e6, pairs);

    struct Row {
        QString name;
        double ratio;
        double peakMb;
    };
    std::vector<Row> rows;
    for (const Design &d : designs) {
        qputenv("XDG_DATA_HOME", d.dataHome.toLocal8Bit());
        const QByteArray name = d.name.toLocal8Bit();
        const QStringList command = {program, QStringLiteral("-template=%1").arg(d.name), QStringLiteral("-process"),
                                     copy};
        // Once untimed: the framed size for the floor's bitmap, and the check that it works.
        copyFile(photo, copy);
        if (!spawn(command, QString(), memory).ok) {
            std::printf("%s: the program failed\n", name.constData());
            return 1;
        }
        const QImage framed(copy);
        const QString bitmap = work.filePath(QStringLiteral("framed.ppm"));
        if (framed.isNull() || !framed.convertToFormat(QImage::Format_RGB888).save(bitmap, "PPM")) {
            std::printf("%s: no framed picture\n", name.constData());
            return 1;
        }
        std::vector<double> times, floors, decodes, encodes, rss;
        std::map<QString, std::vector<double>> phases;
        std::map<QString, std::vector<double>> peaks;
        for (int i = 0; i < pairs; ++i) {
            copyFile(photo, copy);
            QFile::remove(timing);
            const Run run = spawn(command, QString(), memory);
            const Run decode = spawn({QStringLiteral("djpeg"), photo}, QString(), memory);
            const Run encode = spawn({QStringLiteral("cjpeg"), QStringLiteral("-quality"), QStringLiteral("90"), bitmap},
                                     work.filePath(QStringLiteral("floor.jpg")), memory);
            if (!run.ok || !decode.ok || !encode.ok) {
                std::printf("%s: a run failed (program %d, djpeg %d, cjpeg %d)\n", name.constData(), run.ok, decode.ok,
                            encode.ok);
                return 1;
            }
            times.push_back(run.ms);
            floors.push_back(decode.ms + encode.ms);
            decodes.push_back(decode.ms);
            encodes.push_back(encode.ms);
            rss.push_back(run.peakKb / 1024.0);
            auto marks = readMarks(timing);
            const auto span = [&](const char *from, const char *to) {
                const QString a = QString::fromLatin1(from), b = QString::fromLatin1(to);
                return marks.count(a) && marks.count(b) ? marks[b] - marks[a] : -1.0;
            };
            if (marks.count(QStringLiteral("open")))
                phases["start-up"].push_back(marks[QStringLiteral("open")] - run.startMs);
            phases["decode"].push_back(span("open", "decoded"));
            phases["design"].push_back(span("decoded", "render"));
            phases["render"].push_back(span("render", "rendered"));
            phases["encode"].push_back(span("rendered", "encoded"));
            if (marks.count(QStringLiteral("encoded")))
                phases["quit"].push_back(run.startMs + run.ms - marks[QStringLiteral("encoded")]);
            for (const char *mark : {"decoded", "render", "rendered", "encoded"}) {
                const QString key = QString::fromLatin1(mark) + QStringLiteral("@mem");
                if (marks.count(key))
                    peaks[QString::fromLatin1(mark)].push_back(marks[key]);
            }
        }
        const double ratio = median(times) / median(floors);
        std::printf("%-17s %-30s %5d x %-5d  program %7.1f ms  floor %6.1f ms (djpeg %.1f + cjpeg %.1f)  %.2f x\n",
                    name.constData(), qPrintable(d.what), framed.width(), framed.height(), median(times),
                    median(floors), median(decodes), median(encodes), ratio);
        const double peak = *std::max_element(rss.begin(), rss.end());
        std::printf("%-17s peak memory %.1f MB (largest of the runs; target under 200)  phases:", name.constData(),
                    peak);
        for (const char *phase : {"start-up", "decode", "design", "render", "encode", "quit"}) {
            const auto it = phases.find(phase);
            if (it != phases.end() && !it->second.empty())
                std::printf(" %s %.1f", phase, median(it->second));
        }
        std::printf(" ms\n");
        std::printf("%-17s peak memory so far (MB) when", name.constData());
        for (const char *mark : {"decoded", "render", "rendered", "encoded"}) {
            const auto it = peaks.find(QString::fromLatin1(mark));
            if (it != peaks.end() && !it->second.empty())
                std::printf(" %s %.0f", mark, median(it->second));
        }
        std::printf("\n");
        if (d.builtIn)
            rows.push_back({d.name, ratio, peak});
    }
    std::printf("\n%-20s %8s %10s\n", "built-in design", "x floor", "peak MB");
    double result = 0;
    for (const Row &row : rows) {
        std::printf("%-20s %8.2f %10.1f\n", qPrintable(row.name), row.ratio, row.peakMb);
        result = std::max(result, row.ratio);
    }
    std::printf("result: %.2f x\n", result);
    return 0;
}
