#include "ProtectionIcon.h"

#include <QPainter>

namespace ProtectionIcon {

namespace {
QImage greyed(const QImage& source)
{
    QImage grey = source.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < grey.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(grey.scanLine(y));
        for (int x = 0; x < grey.width(); ++x) {
            // Lighter as well as grey, so that it reads as "off" on dark and light panels alike.
            const int level = 96 + qGray(line[x]) / 2;
            line[x] = qRgba(level, level, level, qAlpha(line[x]));
        }
    }
    return grey;
}

// A round badge in the lower right quarter, with its mark drawn by the caller.
QRectF badge(QPainter& painter, const QSize& size, const QColor& fill)
{
    const qreal side = size.width() * 0.5;
    const QRectF area(size.width() - side, size.height() - side, side, side);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, side / 10));
    painter.setBrush(fill);
    painter.drawEllipse(area.adjusted(1, 1, -1, -1));
    return area;
}
} // namespace

QImage image(const QImage& programIcon, ProtectionState::Kind kind)
{
    if (kind == ProtectionState::Kind::Guarding)
        return programIcon;
    QImage result = kind == ProtectionState::Kind::Partial
        ? programIcon.convertToFormat(QImage::Format_ARGB32_Premultiplied)
        : greyed(programIcon).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (kind == ProtectionState::Kind::Stopped)
        return result;

    QPainter painter(&result);
    if (kind == ProtectionState::Kind::Partial) {
        const QRectF area = badge(painter, result.size(), QColor(230, 140, 0));
        const qreal w = area.width();
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::white);
        painter.drawRect(QRectF(area.center().x() - w / 16, area.top() + w * 0.2, w / 8, w * 0.38));
        painter.drawRect(QRectF(area.center().x() - w / 16, area.top() + w * 0.66, w / 8, w / 8));
    } else {
        const QRectF area = badge(painter, result.size(), QColor(40, 80, 160));
        const qreal w = area.width();
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::white);
        painter.drawRect(QRectF(area.left() + w * 0.32, area.top() + w * 0.27, w / 8, w * 0.46));
        painter.drawRect(QRectF(area.right() - w * 0.32 - w / 8, area.top() + w * 0.27, w / 8, w * 0.46));
    }
    return result;
}

} // namespace ProtectionIcon
