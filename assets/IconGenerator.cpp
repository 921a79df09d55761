// Draws the program's icon for the desktop's icon theme: one scalable SVG and PNGs of the usual
// sizes, all from the same outline, into <out>/hicolor/.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace {
// In a 256 x 256 box: a red shield with a white ring, the window icon's design.
const QColor Shield(0xc8, 0x10, 0x2e);
const QColor Edge(0x7a, 0x08, 0x1a);
constexpr double EdgeWidth = 8;
constexpr double RingRadius = 50;
constexpr double RingWidth = 24;
const QPointF RingCentre(128, 122);

QPainterPath shield()
{
    QPainterPath path(QPointF(128, 14));
    path.lineTo(226, 46);
    path.lineTo(226, 118);
    path.cubicTo(226, 178, 186, 222, 128, 244);
    path.cubicTo(70, 222, 30, 178, 30, 118);
    path.lineTo(30, 46);
    path.closeSubpath();
    return path;
}

QByteArray svg()
{
    return QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                             "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" "
                             "viewBox=\"0 0 256 256\">\n"
                             "  <path d=\"M128 14 L226 46 L226 118 C226 178 186 222 128 244 "
                             "C70 222 30 178 30 118 L30 46 Z\" fill=\"")
        + Shield.name().toLatin1() + "\" stroke=\"" + Edge.name().toLatin1() + "\" stroke-width=\""
        + QByteArray::number(EdgeWidth) + "\" stroke-linejoin=\"round\"/>\n  <circle cx=\""
        + QByteArray::number(RingCentre.x()) + "\" cy=\"" + QByteArray::number(RingCentre.y()) + "\" r=\""
        + QByteArray::number(RingRadius) + "\" fill=\"none\" stroke=\"#ffffff\" stroke-width=\""
        + QByteArray::number(RingWidth) + "\"/>\n</svg>\n";
}

QImage png(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 256.0, size / 256.0);
    // Small sizes keep a visible edge and ring by not letting them shrink below a pixel.
    const double pixel = 256.0 / size;
    painter.setPen(QPen(Edge, std::max(EdgeWidth, pixel), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Shield);
    painter.drawPath(shield());
    painter.setPen(QPen(Qt::white, std::max(RingWidth, 2 * pixel)));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(RingCentre, RingRadius, RingRadius);
    return image;
}
} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    bool ok = out.mkpath(QStringLiteral("hicolor/scalable/apps"));
    QFile scalable(out.filePath(QStringLiteral("hicolor/scalable/apps/sentrel.svg")));
    ok = ok && scalable.open(QIODevice::WriteOnly) && scalable.write(svg()) > 0;
    for (const int size : { 16, 22, 24, 32, 48, 64, 128, 256 }) {
        const QString folder = QStringLiteral("hicolor/%1x%1/apps").arg(size);
        ok = ok && out.mkpath(folder)
            && png(size).save(out.filePath(folder + QStringLiteral("/sentrel.png")));
    }
    return ok ? 0 : 1;
}
