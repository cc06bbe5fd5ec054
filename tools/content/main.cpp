// Draws the first-run frame library "InitialFrames.ktframes", the built-in
// designs in "Templates" and the named pictures, into the folder given.
// Fixed seeds and GUIDs derived from names: a rebuilt library updates the
// user's items instead of adding them again.

#include "ContentPainter.h"

#include "design/DesignArchiveClasses.h"
#include "design/KTFrameLayer.h"
#include "design/KTImageLayer.h"
#include "design/KTTemplate.h"
#include "design/KTTextOverlayLayer.h"
#include "design/VLImageMetadataManager.h"
#include "platform/archive/StyledText.h"
#include "platform/archive/Archiver.h"
#include "platform/archive/Color.h"
#include "stores/Frame.h"
#include "stores/FrameAttribute.h"
#include "stores/FrameCollection.h"
#include "stores/FrameImage.h"
#include "stores/FrameSet.h"
#include "stores/FrameType.h"
#include "stores/KTFrameLibraryExporter.h"
#include "stores/LibraryStore.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>

namespace {

using namespace ContentPainter;

const QUuid kNamespace(QStringLiteral("{6f0e5c2a-3b1d-4e8a-9c47-2d5b8e1f0a93}"));

QString guidFor(const QString &kind, const QString &name)
{
    return QUuid::createUuidV5(kNamespace, kind + QLatin1Char('/') + name).toString(QUuid::WithoutBraces).toUpper();
}

struct Library {
    platform::ManagedObjectContext *moc;
    QHash<QString, Frame *> frames;

    FrameImage *picture(const QString &frameName, const QString &role, const QImage &image)
    {
        // Opaque pictures go as JPEG when that is smaller: wood grain at
        // export resolution would make the library many times larger as PNG.
        QByteArray png, jpeg;
        {
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            image.save(&buffer, "PNG", 90); // a fast zlib level
        }
        if (!image.hasAlphaChannel()) {
            QBuffer buffer(&jpeg);
            buffer.open(QIODevice::WriteOnly);
            image.save(&buffer, "JPEG", 90);
        }
        const bool useJpeg = !jpeg.isEmpty() && jpeg.size() < png.size();
        const QString file = guidFor(QStringLiteral("image"), frameName + QLatin1Char('/') + role)
                             + (useJpeg ? QStringLiteral(".jpg") : QStringLiteral(".png"));
        QFile out(FrameImage::imagesFolder(moc) + QLatin1Char('/') + file);
        if (out.open(QIODevice::WriteOnly))
            out.write(useJpeg ? jpeg : png);
        return FrameImage::insertFrameImageWithGUIDAndDisplayName(file, role + QStringLiteral(".png"), moc);
    }

    FrameCollection *collection(const QString &name)
    {
        auto *c = FrameCollection::insertInManagedObjectContext(moc);
        c->setName(name);
        c->setGuid(guidFor(QStringLiteral("collection"), name));
        return c;
    }

    FrameSet *set(FrameCollection *c, const QString &name)
    {
        auto *s = FrameSet::insertInManagedObjectContext(moc);
        s->setName(name);
        s->setGuid(guidFor(QStringLiteral("set"), name));
        s->setFramecollection(c);
        return s;
    }

    Frame *frame(FrameSet *s, const QString &name, const QString &type, const QMap<QString, QImage> &images,
                 const QMap<QString, bool> &flags = {}, std::optional<QColor> matColor = std::nullopt)
    {
        auto *f = Frame::insertInManagedObjectContext(moc);
        f->setName(name);
        f->setGuid(guidFor(QStringLiteral("frame"), name));
        f->setFrameset(s);
        f->setFrametype(FrameType::frameTypeWithName(type, moc));
        f->setAuthor(QStringLiteral("Kantelo"));
        for (auto it = images.constBegin(); it != images.constEnd(); ++it)
            if (FrameAttribute *a = f->frameAttributeWithName(it.key()))
                a->setImageVal(picture(name, it.key(), it.value()));
        for (auto it = flags.constBegin(); it != flags.constEnd(); ++it)
            if (FrameAttribute *a = f->frameAttributeWithName(it.key()))
                a->setBoolVal(it.value());
        if (matColor) {
            if (FrameAttribute *a = f->frameAttributeWithName(QStringLiteral("Mat color")))
                a->setColorVal(platform::Archiver::archivedDataWithRootObject(QVariant::fromValue(
                    platform::Color::rgb(matColor->redF(), matColor->greenF(), matColor->blueF()))));
        }
        f->setHasGraphics(true);
        frames.insert(name, f);
        return f;
    }
};

// Pictures as thick as a moulding's border on a 24 MP export (a tenth of
// 4000 px, more over mats), so frames stay as sharp as the photo.
constexpr int kMouldingDepth = 512;
constexpr int kMouldingLength = 4 * kMouldingDepth;

void buildFrames(Library &lib)
{
    const QString moulding = QStringLiteral("Moulding");
    const QString corners = QStringLiteral("Moulding with corners");
    const QString full = QStringLiteral("Full frame");
    const QString mat = QStringLiteral("Color Mat");
    const QString top = QStringLiteral("Top Image");
    const QString mirror = QStringLiteral("Mirror images");
    const QString mask = QStringLiteral("Act as mask");

    FrameCollection *classic = lib.collection(QStringLiteral("Classic Mouldings"));
    FrameSet *wood = lib.set(classic, QStringLiteral("Wood"));
    const struct { const char *name; QColor colour; bool mirrored; } woods[] = {
        {"Walnut", QColor(96, 62, 38), false},      {"Oak", QColor(168, 126, 78), false},
        {"Cherry", QColor(140, 66, 44), true},      {"Ebony", QColor(40, 34, 30), false},
        {"Maple", QColor(210, 178, 130), true},     {"Mahogany", QColor(110, 44, 30), false},
        {"Driftwood", QColor(150, 144, 132), true},  {"Pine", QColor(200, 160, 100), false},
        {"Teak", QColor(130, 90, 50), true},        {"Rosewood", QColor(90, 40, 36), false},
    };
    std::uint32_t seed = 1;
    for (const auto &w : woods)
        lib.frame(wood, QString::fromLatin1(w.name), moulding, {{top, woodMoulding(kMouldingLength, kMouldingDepth, w.colour, seed++, false)}},
                  {{mirror, w.mirrored}, {mask, false}});
    FrameSet *gilt = lib.set(classic, QStringLiteral("Gilt"));
    const struct { const char *name; QColor colour; } gilts[] = {
        {"Old Gold", QColor(190, 150, 60)}, {"Bright Gold", QColor(230, 190, 80)}, {"Antique Silver", QColor(170, 170, 165)},
        {"Bronze", QColor(150, 100, 50)},   {"Champagne", QColor(215, 195, 150)}, {"Copper", QColor(180, 100, 60)},
    };
    for (const auto &g : gilts)
        lib.frame(gilt, QString::fromLatin1(g.name), moulding, {{top, woodMoulding(kMouldingLength, kMouldingDepth, g.colour, seed++, true)}},
                  {{mirror, true}, {mask, false}});

    FrameCollection *modern = lib.collection(QStringLiteral("Modern Gallery"));
    FrameSet *thin = lib.set(modern, QStringLiteral("Thin Profiles"));
    const struct { const char *name; QColor colour; double brushed; } thins[] = {
        {"Gallery Black", QColor(25, 25, 25), 0},    {"Gallery White", QColor(245, 245, 242), 0},
        {"Brushed Aluminium", QColor(190, 192, 196), 0.06}, {"Graphite", QColor(70, 72, 76), 0.02},
        {"Natural Ash", QColor(220, 200, 165), 0.03}, {"Navy", QColor(30, 45, 80), 0},
        {"Oxblood", QColor(100, 25, 30), 0},         {"Sage", QColor(140, 160, 130), 0},
    };
    // Each side lit as it lies, so light and shade differ across the mitres.
    const int galleryLength = kMouldingDepth / 2;
    for (const auto &t : thins)
        lib.frame(thin, QString::fromLatin1(t.name), moulding,
                  {{top, galleryMoulding(galleryLength, kMouldingDepth, t.colour, Side::Top, t.brushed)},
                   {QStringLiteral("Left Image"), galleryMoulding(galleryLength, kMouldingDepth, t.colour, Side::Left, t.brushed)},
                   {QStringLiteral("Right Image"), galleryMoulding(galleryLength, kMouldingDepth, t.colour, Side::Right, t.brushed)},
                   {QStringLiteral("Bottom Image"), galleryMoulding(galleryLength, kMouldingDepth, t.colour, Side::Bottom, t.brushed)}},
                  {{mirror, false}, {mask, false}});

    FrameCollection *ornate = lib.collection(QStringLiteral("Ornate"));
    FrameSet *baroque = lib.set(ornate, QStringLiteral("Baroque"));
    const struct { const char *name; QColor colour; } ornates[] = {
        {"Baroque Gold", QColor(200, 160, 70)}, {"Rococo Silver", QColor(185, 185, 180)},
        {"Florentine", QColor(170, 120, 60)},   {"Regency Black", QColor(45, 40, 38)},
        {"Versailles", QColor(225, 185, 90)},   {"Tuscan Bronze", QColor(140, 95, 55)},
    };
    for (const auto &o : ornates) {
        const QImage corner = ornateCorner(kMouldingDepth, o.colour, seed);
        lib.frame(baroque, QString::fromLatin1(o.name), corners,
                  {{top, ornateMoulding(kMouldingLength, kMouldingDepth, o.colour, seed)},
                   {QStringLiteral("Top-Left corner"), corner}, {QStringLiteral("Top-Right corner"), corner},
                   {QStringLiteral("Bottom-Left corner"), corner}, {QStringLiteral("Bottom-Right corner"), corner}},
                  {{mask, false}});
        ++seed;
    }

    FrameCollection *artistic = lib.collection(QStringLiteral("Artistic"));
    FrameSet *papers = lib.set(artistic, QStringLiteral("Paper and Print"));
    const QString portrait = QStringLiteral("Portrait Image");
    const QString landscape = QStringLiteral("Landscape Image");
    lib.frame(papers, QStringLiteral("Deckled Paper"), full,
              {{portrait, deckledPaper(QSize(600, 800), 101)}, {landscape, deckledPaper(QSize(800, 600), 102)}}, {{mask, false}});
    lib.frame(papers, QStringLiteral("Rough Deckle"), full,
              {{portrait, deckledPaper(QSize(600, 800), 103)}, {landscape, deckledPaper(QSize(800, 600), 104)}}, {{mask, false}});
    lib.frame(papers, QStringLiteral("Instant Photo"), full,
              {{portrait, instantPhotoBorder(QSize(600, 730))}, {landscape, instantPhotoBorder(QSize(800, 700))}}, {{mask, false}});
    FrameSet *masks = lib.set(artistic, QStringLiteral("Masks"));
    const struct { const char *name; double radius; } rounds[] = {
        {"Rounded Corners Small", 0.04}, {"Rounded Corners", 0.08}, {"Rounded Corners Large", 0.16}};
    for (const auto &r : rounds)
        lib.frame(masks, QString::fromLatin1(r.name), full,
                  {{portrait, roundedCornerMask(QSize(600, 800), r.radius)},
                   {landscape, roundedCornerMask(QSize(800, 600), r.radius)}},
                  {{mask, true}});
    lib.frame(masks, QStringLiteral("Oval Vignette"), full,
              {{portrait, ovalVignetteMask(QSize(600, 800))}, {landscape, ovalVignetteMask(QSize(800, 600))}}, {{mask, true}});

    FrameCollection *mats = lib.collection(QStringLiteral("Mats"));
    FrameSet *colours = lib.set(mats, QStringLiteral("Mat Colours"));
    const struct { const char *name; QColor colour; } matColours[] = {
        {"Bright White", QColor(250, 250, 248)}, {"Antique White", QColor(242, 236, 220)}, {"Cream", QColor(238, 228, 200)},
        {"Pearl Grey", QColor(210, 210, 206)},   {"Charcoal", QColor(60, 60, 62)},         {"Black", QColor(20, 20, 20)},
        {"Navy Mat", QColor(36, 50, 86)},        {"Forest", QColor(40, 70, 50)},           {"Burgundy", QColor(100, 30, 40)},
        {"Sand", QColor(210, 190, 150)},
    };
    for (const auto &m : matColours)
        lib.frame(colours, QString::fromLatin1(m.name), mat, {}, {}, m.colour);
}

struct Finished : KTFrameLibraryExporterDelegate {
    std::optional<bool> result;
    void progressUpdated(const KTFrameLibraryExportProgress &) override {}
    void exportFinished(bool ok) override { result = ok; }
};

bool writeFile(const QString &path, const QImage &image, const char *format, int quality = -1)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && image.save(&file, format, quality) && file.commit();
}

struct Design {
    const char *name;
    QStringList frames; // innermost first
    QStringList tags;
    bool shootingDate = false; // a text overlay with the photo's date at the bottom right
};

// "{{EXIF long date}}" in dark grey, right-aligned at the bottom.
std::shared_ptr<KTLayer> shootingDateOverlay()
{
    constexpr long kExifLongDateTag = 101;
    auto layer = std::make_shared<KTTextOverlayLayer>();
    platform::StyledText::Attributes attributes;
    attributes.font = platform::StyledText::Font{QStringLiteral("Helvetica"), 24.0, std::nullopt};
    // A caption on the frame's bottom border, like a gallery label.
    attributes.color = platform::Color::rgb(0.3, 0.3, 0.3);
    attributes.paragraphStyle = platform::StyledText::ParagraphStyle{platform::StyledText::Right};
    layer->setOverlayText(platform::StyledText(VLImageMetadataManager().templateStringForTag(kExifLongDateTag), attributes));
    KTOverlayPositioning positioning;
    positioning.position = QPointF(0.03, 0.012);
    positioning.hSnap = 1;
    positioning.vSnap = 0;
    layer->setPositioning(positioning);
    layer->setScale(0.035);
    return layer;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: kantelo-content OUTPUT-FOLDER\n");
        return 2;
    }
    QElapsedTimer timer;
    timer.start();
    const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(out);

    QTemporaryDir work;
    LibraryStore store(nullptr, work.path());
    LibraryStore::setShared(&store);
    QDir().mkpath(store.framesGraphicsFolder());
    registerDesignArchiveClasses();
    Library lib{store.managedObjectContext(), {}};
    if (!lib.moc) {
        std::fprintf(stderr, "kantelo-content: no library store\n");
        return 1;
    }
    const auto &types = Frame::frameTypeTable();
    for (auto it = types.constBegin(); it != types.constEnd(); ++it)
        if (!FrameType::frameTypeWithName(it.key(), lib.moc))
            FrameType::insertInManagedObjectContext(lib.moc)->setName(it.key());
    buildFrames(lib);

    // Icons from the frames' own layers.
    for (Frame *frame : std::as_const(lib.frames)) {
        if (auto layer = KTFrameLayer::frameLayerFromFrame(frame))
            frame->setIconImage(layer->iconOfSize(QSizeF(128, 128)));
    }
    // A set shows its first frame, a collection its first set.
    auto byName = [](const auto *a, const auto *b) { return a->name() < b->name(); };
    for (FrameCollection *c : lib.moc->fetchObjects<FrameCollection>()) {
        QList<FrameSet *> sets = c->framesets();
        std::sort(sets.begin(), sets.end(), byName);
        QImage collectionIcon;
        for (FrameSet *s : std::as_const(sets)) {
            QList<Frame *> frames = s->frames();
            std::sort(frames.begin(), frames.end(), byName);
            if (frames.isEmpty() || frames.first()->iconImage().isNull())
                continue;
            const QImage icon = frames.first()->iconImage();
            s->setIcon(lib.picture(QStringLiteral("set/") + s->name(), QStringLiteral("Icon"), icon));
            if (collectionIcon.isNull())
                collectionIcon = icon;
        }
        if (!collectionIcon.isNull())
            c->setIcon(lib.picture(QStringLiteral("collection/") + c->name(), QStringLiteral("Icon"), collectionIcon));
    }
    platform::Error error;
    if (!lib.moc->save(&error)) {
        std::fprintf(stderr, "kantelo-content: %s\n", qPrintable(error.description));
        return 1;
    }

    QList<platform::ManagedObject *> collections;
    for (FrameCollection *c : lib.moc->fetchObjects<FrameCollection>())
        collections.append(c);
    Finished finished;
    auto exporter = std::make_shared<KTFrameLibraryExporter>(
        collections, QList<platform::ManagedObject *>{},
        QUrl::fromLocalFile(out + QStringLiteral("/InitialFrames.ktframes")));
    exporter->setCountOfItems(quint64(lib.frames.size()));
    exporter->startExportWithDelegate(&finished);
    exporter.reset();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (finished.result)
            loop.quit();
    });
    poll.start(10);
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    loop.exec();
    if (!finished.result.value_or(false)) {
        std::fprintf(stderr, "kantelo-content: the frame archive could not be written\n");
        return 1;
    }

    // Built-in designs, each frame-only (the photo layer stays empty).
    const QList<Design> designs{
        {"Classic Walnut", {"Antique White", "Walnut"}, {"classic", "wood", "mat"}},
        {"Museum Gold", {"Cream", "Old Gold"}, {"classic", "gilt", "mat"}},
        {"Gallery Black", {"Bright White", "Gallery Black"}, {"modern", "gallery", "mat"}},
        {"Gallery White", {"Charcoal", "Gallery White"}, {"modern", "gallery"}},
        {"Baroque", {"Burgundy", "Baroque Gold"}, {"ornate", "gilt", "corners"}},
        {"Silver Regency", {"Pearl Grey", "Rococo Silver"}, {"ornate", "silver", "corners"}},
        {"Deckled Print", {"Deckled Paper"}, {"artistic", "paper"}},
        {"Instant Memory", {"Instant Photo"}, {"artistic", "instant"}},
        {"Soft Oval", {"Oval Vignette"}, {"artistic", "mask", "vignette"}},
        {"Rounded Aluminium", {"Rounded Corners", "Brushed Aluminium"}, {"modern", "mask", "metal"}},
        {"Double Mat Oak", {"Sand", "Navy Mat", "Oak"}, {"classic", "wood", "double mat"}},
        {"Dated Snapshot", {"Gallery White"}, {"modern", "date", "text"}, true},
    };
    const QString templatesFolder = out + QStringLiteral("/Templates");
    QDir().mkpath(templatesFolder);
    int written = 0;
    for (const Design &d : designs) {
        auto design = std::make_shared<KTTemplate>();
        auto photo = std::make_shared<KTImageLayer>();
        photo->setLayerName(QString::fromLatin1(KTTemplate::kImageLayerName));
        photo->setControlNibName(QString::fromLatin1(KTTemplate::kImageLayerControlNibName));
        design->insertLayer(photo, 0);
        bool complete = true;
        for (const QString &name : d.frames) {
            Frame *frame = lib.frames.value(name);
            auto layer = frame ? KTFrameLayer::frameLayerFromFrame(frame) : nullptr;
            if (!layer) {
                complete = false;
                break;
            }
            design->addTopmostLayer(layer);
        }
        if (complete && d.shootingDate)
            design->addTopmostLayer(shootingDateOverlay());
        if (!complete) {
            std::fprintf(stderr, "kantelo-content: design \"%s\" left out\n", d.name);
            continue;
        }
        design->setName(QString::fromLatin1(d.name));
        const QString path = templatesFolder + QLatin1Char('/') + QString::fromLatin1(d.name) + QStringLiteral(".KTTemplate");
        if (!design->saveToURL(QUrl::fromLocalFile(path), d.tags, guidFor(QStringLiteral("template"), QString::fromLatin1(d.name)), false)) {
            std::fprintf(stderr, "kantelo-content: design \"%s\" not written\n", d.name);
            return 1;
        }
        ++written;
    }

    // The library's icon bar draws its icons 40 points square.
    constexpr int kBarIconSide = 40;
    bool ok = writeFile(out + QStringLiteral("/NoIcon.png"), noIcon(128), "PNG")
              && writeFile(out + QStringLiteral("/Frame icon.png"), framesIcon(kBarIconSide), "PNG")
              && writeFile(out + QStringLiteral("/Favorite icon.png"), favoritesIcon(kBarIconSide), "PNG")
              && writeFile(out + QStringLiteral("/Recent frames icon.png"), recentIcon(kBarIconSide), "PNG")
              && writeFile(out + QStringLiteral("/Placeholder.png"), overlayPlaceholder(256), "PNG")
              && writeFile(out + QStringLiteral("/Startup_image.jpg"), startupPicture(QSize(1600, 1067), 7), "JPEG", 88)
              // The frame editor's preview draws each frame around this one; wide, so its caption fits.
              && writeFile(out + QStringLiteral("/FramePreviewImage.jpg"), samplePhoto(QSize(800, 400), 11), "JPEG", 85);
    LibraryStore::setShared(nullptr);
    std::printf("kantelo-content: %lld frames, %d designs in %lld ms\n", qint64(lib.frames.size()), written,
                qint64(timer.elapsed()));
    return ok ? 0 : 1;
}
