// Designs within every limit a design has (layers, characters, placeholders)
// framing an 800 x 533 photo through the real program, as a user runs it:
// `kantelo -template=NAME -process photo.jpg`, each design stored in a
// profile of the benchmark's own with the frames it uses in its library.
// Each row is one design: its time, the child's peak memory (/usr/bin/time)
// and, for a design the program refuses, the first line it said. The target:
// every design either framed in a few seconds and well under 1 GB, or
// refused in a second or two with its reason. The result is the slowest
// row's time.
//
//   thin mouldings    layer objects of their own showing one moulding frame
//   own frames        mouldings each of a frame (and pictures) of its own
//   mats              colour mats with a bevel and their shadows
//   wide mats         mats 0.4 wide on every side: a picture no memory holds
//   line breaks       texts of one letter and 9,999 line breaks
//   captions          texts of {{IPTC caption}}, the photo's caption 32,000 characters
//
// --quick: a few layers of each, one run.
#include "bench/Processes.h"
#include "bench/Quick.h"
#include "design/KTColorMatLayer.h"
#include "design/KTFrameLayer.h"
#include "design/KTMoldingFrameLayer.h"
#include "design/KTTemplate.h"
#include "design/KTTextOverlayLayer.h"
#include "design/TemplatesStore.h"
#include "design/Variation.h"
#include "platform/archive/Color.h"
#include "platform/archive/StyledText.h"
#include "platform/imaging/Exiv2Support.h"
#include "platform/objectstore/ManagedObjectContext.h"
#include "scenes/SceneLibrary.h"
#include "scenes/ScenePictures.h"

#include <exiv2/exiv2.hpp>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include <time.h>

namespace {

double nowMs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

[[noreturn]] void die(const char *what)
{
    std::fprintf(stderr, "%s\n", what);
    std::exit(3);
}

std::shared_ptr<KTFrameLayer> layerOf(Frame *frame)
{
    auto layer = frame ? KTFrameLayer::frameLayerFromFrame(frame) : nullptr;
    if (!layer || !layer->imagesLoaded())
        die("a frame layer could not be made");
    return layer;
}

struct Row {
    QString name;
    QString what;
    std::function<void(KTTemplate &)> fill;
    QString photo = {}; // the plain photo unless given
};

platform::StyledText text(const QString &chars)
{
    platform::StyledText::Attributes a;
    a.font = platform::StyledText::Font{QStringLiteral("Helvetica"), 24, std::nullopt};
    a.color = platform::Color::fromQColor(Qt::black);
    return platform::StyledText(chars, a);
}

// Text layers of their own, all with the same text.
void addTexts(KTTemplate &design, int count, const QString &chars)
{
    auto first = std::make_shared<KTTextOverlayLayer>();
    first->setOverlayText(text(chars));
    for (int i = 0; i < count; ++i)
        design.addTopmostLayer(first->copyForRendering());
}

bool writeCaption(const QString &path, const QString &caption)
{
    platform::initializeExiv2();
    try {
        auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        image->readMetadata();
        image->iptcData()["Iptc.Application2.Caption"] = caption.toStdString();
        image->writeMetadata();
    } catch (const Exiv2::Error &) {
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    // KANTELO_BENCH_PROFILE keeps the profile, its photos and designs in that folder.
    QTemporaryDir root;
    const QDir base(qEnvironmentVariableIsSet("KANTELO_BENCH_PROFILE") ? qEnvironmentVariable("KANTELO_BENCH_PROFILE")
                                                                       : root.path());
    for (const char *sub : {"home", "config", "data", "cache", "runtime", "work"})
        base.mkpath(QString::fromLatin1(sub));
    qputenv("HOME", base.filePath(QStringLiteral("home")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", base.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", base.filePath(QStringLiteral("data")).toLocal8Bit());
    qputenv("XDG_CACHE_HOME", base.filePath(QStringLiteral("cache")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", base.filePath(QStringLiteral("runtime")).toLocal8Bit());
    QFile::setPermissions(base.filePath(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const bool quick = bench::takeQuickFlag(argc, argv);
    QGuiApplication app(argc, argv);
    // A name given picks the rows whose names hold it.
    const QString only = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();

    const QString program =
        qEnvironmentVariableIsSet("KANTELO_PROGRAM")
            ? qEnvironmentVariable("KANTELO_PROGRAM")
            : QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../bin/kantelo"));
    if (!QFileInfo(program).isExecutable()) {
        std::printf("no program at %s\n", qPrintable(program));
        return 1;
    }
    const QDir work(base.filePath(QStringLiteral("work")));
    const QString photo = work.filePath(QStringLiteral("photo.jpg"));
    const QString captioned = work.filePath(QStringLiteral("captioned.jpg"));
    if (!scenes::writeCameraPhoto(photo, 800, 533) || !QFile::copy(photo, captioned)
        || !writeCaption(captioned, QString(32000, QLatin1Char('w'))))
        die("the photos could not be written");

    const int many = quick ? 5 : 999;
    const int some = quick ? 3 : 100;
    const int texts = quick ? 2 : 10;
    std::vector<Row> rows;
    {
        scenes::SceneLibrary library(QDir(base.filePath(QStringLiteral("data"))).filePath(QStringLiteral("Kantelo")));
        // A moulding of one picture, as the built-in ones: its other sides are that picture turned.
        const auto moulding = [&](int seed) {
            const QString path = work.filePath(QStringLiteral("moulding%1.png").arg(seed));
            if (!scenes::grain(2048, 512, QColor(120, 80, 50), unsigned(seed), false).save(path))
                die("a moulding picture could not be written");
            auto layer = std::static_pointer_cast<KTMoldingFrameLayer>(
                layerOf(library.frame(QStringLiteral("Moulding"), QStringLiteral("Moulding %1").arg(seed),
                                      {{QStringLiteral("Top Image"), path}})));
            layer->setFrameWidth(0.0005);
            layer->setDropShadow(false);
            return layer;
        };
        const auto thin = moulding(0);
        const auto thinMouldings = [thin](int count) {
            return [thin, count](KTTemplate &design) {
                for (int i = 0; i < count; ++i)
                    design.addTopmostFrameLayer(std::static_pointer_cast<KTFrameLayer>(thin->copyForRendering()));
            };
        };
        std::vector<std::shared_ptr<KTMoldingFrameLayer>> own;
        for (int i = 1; i <= some; ++i)
            own.push_back(std::static_pointer_cast<KTMoldingFrameLayer>(moulding(i)->copyForRendering()));
        Frame *matFrame = library.colorMat(QStringLiteral("Cream"), QColor(236, 228, 210));
        const auto mats = [&](int count, double width) {
            auto mat = std::static_pointer_cast<KTColorMatLayer>(layerOf(matFrame));
            for (auto set : {&KTColorMatLayer::setLeftWidth, &KTColorMatLayer::setRightWidth,
                             &KTColorMatLayer::setTopWidth, &KTColorMatLayer::setBottomWidth})
                (mat.get()->*set)(width);
            mat->setBevelWidth(0.02);
            mat->setDropShadow(true);
            return [mat, count](KTTemplate &design) {
                for (int i = 0; i < count; ++i)
                    design.addTopmostFrameLayer(std::static_pointer_cast<KTFrameLayer>(mat->copyForRendering()));
            };
        };
        const auto add = [&rows](Row row) { rows.push_back(std::move(row)); };
        const QString lineBreaks = QStringLiteral("x") + QString(9999, QLatin1Char('\n'));
        const QString captions = QStringLiteral("{{IPTC caption}}").repeated(KTTextOverlayLayer::kMaxPlaceholders);

        add({QStringLiteral("thin mouldings %1").arg(some), QString(), thinMouldings(some)});
        add({QStringLiteral("thin mouldings %1").arg(quick ? 4 : 300), QString(), thinMouldings(quick ? 4 : 300)});
        add({QStringLiteral("thin mouldings %1").arg(many), QString(), thinMouldings(many)});
        add({QStringLiteral("own frames %1").arg(some), QString(), [own](KTTemplate &design) {
                 for (const auto &layer : own)
                     design.addTopmostFrameLayer(layer);
             }});
        add({QStringLiteral("mats %1").arg(many), QStringLiteral("bevel and shadow"), mats(many, 0.0005)});
        add({QStringLiteral("wide mats 60"), QStringLiteral("0.4 on every side"), mats(60, 0.4)});
        add({QStringLiteral("line breaks %1").arg(texts), QStringLiteral("texts of 9,999"),
             [=](KTTemplate &design) { addTexts(design, texts, lineBreaks); }});
        add({QStringLiteral("line breaks %1").arg(many - 1), QStringLiteral("texts of 9,999"),
             [=](KTTemplate &design) { addTexts(design, many - 1, lineBreaks); }});
        add({QStringLiteral("captions %1 x 100").arg(texts), QStringLiteral("32,000-character caption"),
             [=](KTTemplate &design) { addTexts(design, texts, captions); }, captioned});
        add({QStringLiteral("captions %1 x 1").arg(many - 1), QStringLiteral("32,000-character caption"),
             [=](KTTemplate &design) { addTexts(design, many - 1, QStringLiteral("{{IPTC caption}}")); }, captioned});
        add({QStringLiteral("captions %1 x 100").arg(many - 1), QStringLiteral("32,000-character caption"),
             [=](KTTemplate &design) { addTexts(design, many - 1, captions); }, captioned});

        TemplatesStore templates(QDir(base.filePath(QStringLiteral("data"))).filePath(QStringLiteral("Kantelo")));
        platform::ManagedObjectContext *designs = templates.templatesManagedObjectContext();
        if (!library.moc() || !designs)
            die("the profile's stores could not be made");
        for (const Row &row : rows) {
            if (!only.isEmpty() && !row.name.contains(only))
                continue;
            auto design = std::make_shared<KTTemplate>();
            design->importImage(QUrl::fromLocalFile(photo));
            row.fill(*design);
            design->setName(row.name);
            // Stored without an icon: drawing one would cost what the runs measure.
            Variation *variation = Variation::insertInManagedObjectContext(designs);
            variation->setName(row.name);
            variation->setData(design->dataForArchiving());
        }
        platform::Error error;
        if (!library.moc()->save(&error) || !designs->save(&error))
            die("the profile's stores could not be saved");
    }

    // KANTELO_BENCH_MAKE_ONLY: the profile is made, nothing is run.
    if (qEnvironmentVariableIsSet("KANTELO_BENCH_MAKE_ONLY"))
        return 0;
    const QString copy = work.filePath(QStringLiteral("framed.jpg"));
    const QString memory = work.filePath(QStringLiteral("memory.txt"));
    const QString said = work.filePath(QStringLiteral("said.txt"));
    // A run is given up after this many seconds (KANTELO_BENCH_LIMIT, 600 by default).
    const int limit =
        qEnvironmentVariableIsSet("KANTELO_BENCH_LIMIT") ? qEnvironmentVariableIntValue("KANTELO_BENCH_LIMIT") : 600;
    const auto run = [&](const QString &name, const QString &from, double *ms, double *peakMb, QString *line) {
        QFile::remove(copy);
        QFile::copy(from, copy);
        const double start = nowMs();
        const int status =
            bench::runToEnd({QStringLiteral("/usr/bin/time"), QStringLiteral("-f"), QStringLiteral("%M"),
                             QStringLiteral("-o"), memory, QStringLiteral("sh"), QStringLiteral("-c"),
                             QStringLiteral("exec timeout %1 \"$0\" \"$1\" -process \"$2\" 2>\"$3\"").arg(limit),
                             program, QStringLiteral("-template=%1").arg(name), copy, said});
        *ms = nowMs() - start;
        QFile m(memory);
        *peakMb = m.open(QIODevice::ReadOnly) ? m.readAll().trimmed().split('\n').last().toDouble() / 1024 : 0;
        QFile s(said);
        *line = s.open(QIODevice::ReadOnly)
                    ? QString::fromUtf8(s.readAll()).trimmed().replace(QLatin1Char('\n'), QStringLiteral(" | "))
                    : QString();
        return status;
    };
    // The first run imports the built-in frames and designs: untimed.
    {
        double ms, peak;
        QString line;
        if (run(QStringLiteral("Baroque"), photo, &ms, &peak, &line) != 0) {
            std::printf("the first run failed: %s\n", qPrintable(line));
            return 1;
        }
    }
    std::printf("%-24s %-26s %9s %9s  %s\n", "design", "", "seconds", "peak MB", "said");
    double result = 0;
    for (const Row &row : rows) {
        if (!only.isEmpty() && !row.name.contains(only))
            continue;
        double ms = 0, peak = 0;
        QString line;
        const int status = run(row.name, row.photo.isEmpty() ? photo : row.photo, &ms, &peak, &line);
        if (status < 0) {
            std::printf("%s: the program did not end\n", qPrintable(row.name));
            return 1;
        }
        if (line.size() > 200)
            line = line.left(197) + QStringLiteral("...");
        std::printf("%-24s %-26s %9.2f %9.0f  %s\n", qPrintable(row.name), qPrintable(row.what), ms / 1000, peak,
                    status == 0     ? "framed"
                    : status == 124 ? "given up"
                                    : qPrintable(line));
        std::fflush(stdout);
        result = std::max(result, ms / 1000);
    }
    std::printf("result: %.2f s\n", result);
    return 0;
}
