// Draws Kantelo's application icon: a gilt frame with a mat around a
// landscape. One list of shapes is both painted into the PNG sizes and
// written out as the scalable SVG, so the two always agree.
//   kantelo-icon ICON-THEME-FOLDER   (writes <folder>/hicolor/...)

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QSaveFile>
#include <QTextStream>

#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr double kCanvas = 512;
constexpr const char *kIconName = "com.velmoorsoft.Kantelo";

struct Fill {
    QColor from;
    QColor to;       // equal to `from` for a flat colour
    QPointF start{}; // the gradient's line, in canvas units
    QPointF end{};
};

struct Shape {
    enum Kind { RoundedRect, Ellipse, Polygon } kind;
    QRectF rect{}; // RoundedRect (with radius), Ellipse
    double radius = 0;
    QPolygonF points{}; // Polygon
    Fill fill;
};

Fill flat(const QColor &c)
{
    return {c, c};
}
Fill gradient(const QColor &from, const QColor &to, QPointF start, QPointF end)
{
    return {from, to, start, end};
}

std::vector<Shape> iconShapes()
{
    std::vector<Shape> shapes;
    auto rect = [&](QRectF r, double radius, Fill f) { shapes.push_back({Shape::RoundedRect, r, radius, {}, f}); };
    // The moulding, lit from the top left, and its inner lip.
    rect({28, 28, 456, 456}, 36, gradient(QColor(0xf0, 0xc8, 0x68), QColor(0x8c, 0x5a, 0x1c), {28, 28}, {484, 484}));
    rect({64, 64, 384, 384}, 12, gradient(QColor(0x6e, 0x46, 0x12), QColor(0xd8, 0xa8, 0x4c), {64, 64}, {448, 448}));
    // The mat and its bevel.
    rect({80, 80, 352, 352}, 4, flat(QColor(0xf6, 0xf1, 0xe4)));
    rect({130, 130, 252, 252}, 0, flat(QColor(0xd9, 0xcf, 0xb8)));
    // The photograph: sky, sun and two hills.
    rect({136, 136, 240, 240}, 0, gradient(QColor(0x6f, 0xa8, 0xdc), QColor(0xd6, 0xea, 0xf6), {0, 136}, {0, 376}));
    shapes.push_back({Shape::Ellipse, {282, 170, 60, 60}, 0, {}, flat(QColor(0xff, 0xd2, 0x5a))});
    shapes.push_back({Shape::Polygon,
                      {},
                      0,
                      QPolygonF({{136, 376}, {136, 296}, {196, 252}, {256, 304}, {316, 244}, {376, 292}, {376, 376}}),
                      flat(QColor(0x5a, 0x94, 0x44))});
    shapes.push_back({Shape::Polygon,
                      {},
                      0,
                      QPolygonF({{136, 376}, {136, 338}, {226, 316}, {300, 330}, {376, 312}, {376, 376}}),
                      flat(QColor(0x35, 0x68, 0x2a))});
    return shapes;
}

QImage paintIcon(int side)
{
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(side / kCanvas, side / kCanvas);
    painter.setPen(Qt::NoPen);
    for (const Shape &s : iconShapes()) {
        if (s.fill.from == s.fill.to) {
            painter.setBrush(s.fill.from);
        } else {
            QLinearGradient g(s.fill.start, s.fill.end);
            g.setColorAt(0, s.fill.from);
            g.setColorAt(1, s.fill.to);
            painter.setBrush(g);
        }
        switch (s.kind) {
        case Shape::RoundedRect:
            painter.drawRoundedRect(s.rect, s.radius, s.radius);
            break;
        case Shape::Ellipse:
            painter.drawEllipse(s.rect);
            break;
        case Shape::Polygon:
            painter.drawPolygon(s.points);
            break;
        }
    }
    return image;
}

QString svgIcon()
{
    QString svg;
    QTextStream out(&svg);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kCanvas << "\" height=\"" << kCanvas
        << "\" viewBox=\"0 0 " << kCanvas << ' ' << kCanvas << "\">\n";
    int gradients = 0;
    for (const Shape &s : iconShapes()) {
        QString paint = s.fill.from.name();
        if (s.fill.from != s.fill.to) {
            const QString id = QStringLiteral("g%1").arg(++gradients);
            out << "  <linearGradient id=\"" << id << "\" gradientUnits=\"userSpaceOnUse\" x1=\"" << s.fill.start.x()
                << "\" y1=\"" << s.fill.start.y() << "\" x2=\"" << s.fill.end.x() << "\" y2=\"" << s.fill.end.y()
                << "\"><stop offset=\"0\" stop-color=\"" << s.fill.from.name() << "\"/><stop offset=\"1\" stop-color=\""
                << s.fill.to.name() << "\"/></linearGradient>\n";
            paint = QStringLiteral("url(#%1)").arg(id);
        }
        switch (s.kind) {
        case Shape::RoundedRect:
            out << "  <rect x=\"" << s.rect.x() << "\" y=\"" << s.rect.y() << "\" width=\"" << s.rect.width()
                << "\" height=\"" << s.rect.height() << "\" rx=\"" << s.radius << "\" fill=\"" << paint << "\"/>\n";
            break;
        case Shape::Ellipse:
            out << "  <ellipse cx=\"" << s.rect.center().x() << "\" cy=\"" << s.rect.center().y() << "\" rx=\""
                << s.rect.width() / 2 << "\" ry=\"" << s.rect.height() / 2 << "\" fill=\"" << paint << "\"/>\n";
            break;
        case Shape::Polygon: {
            out << "  <polygon points=\"";
            for (const QPointF &p : s.points)
                out << p.x() << ',' << p.y() << ' ';
            out << "\" fill=\"" << paint << "\"/>\n";
            break;
        }
        }
    }
    out << "</svg>\n";
    return svg;
}

bool write(const QString &path, const std::function<bool(QSaveFile &)> &fill)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && fill(file) && file.commit();
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: kantelo-icon ICON-THEME-FOLDER\n");
        return 2;
    }
    const QString hicolor = QDir(QString::fromLocal8Bit(argv[1])).absoluteFilePath(QStringLiteral("hicolor"));
    const QString file = QString::fromLatin1(kIconName);
    bool ok = write(hicolor + QStringLiteral("/scalable/apps/") + file + QStringLiteral(".svg"),
                    [](QSaveFile &f) { return f.write(svgIcon().toUtf8()) > 0; });
    for (int side : {16, 24, 32, 48, 64, 128, 256, 512}) {
        const QString path = hicolor + QStringLiteral("/%1x%1/apps/").arg(side) + file + QStringLiteral(".png");
        ok = ok && write(path, [side](QSaveFile &f) { return paintIcon(side).save(&f, "PNG"); });
    }
    if (!ok)
        std::fprintf(stderr, "kantelo-icon: the icon could not be written\n");
    return ok ? 0 : 1;
}
