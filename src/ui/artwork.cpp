#include "ui/artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace kavelon {
namespace {

const QColor kNavy(0x10, 0x2a, 0x5c);
const QColor kSky(0x3f, 0x7c, 0xc4);

QPixmap Blank(const QSize& size) {
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void DrawMagnifier(QPainter& p) {
    p.setPen(QPen(kNavy, 2));
    p.drawEllipse(QRectF(2, 2, 8, 8));
    p.setPen(QPen(kNavy, 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10, 10), QPointF(14, 14));
}

void DrawBox(QPainter& p, bool ticked) {
    p.setPen(QPen(kNavy, 1.5));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(2.5, 2.5, 11, 11));
    if (!ticked) return;
    p.setPen(QPen(QColor(0x1e, 0x8c, 0x3a), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath tick;
    tick.moveTo(4.5, 8);
    tick.lineTo(7, 10.5);
    tick.lineTo(11.5, 4.5);
    p.setBrush(Qt::NoBrush);
    p.drawPath(tick);
}

void DrawCross(QPainter& p) {
    p.setPen(QPen(QColor(0xc0, 0x1c, 0x1c), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
    p.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
}

void DrawGlobe(QPainter& p) {
    p.setPen(QPen(kNavy, 1.3));
    p.setBrush(QColor(0xcf, 0xe3, 0xf7));
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(5, 1.5, 6, 13));
    p.drawLine(QPointF(1.5, 8), QPointF(14.5, 8));
}

void DrawRefresh(QPainter& p) {
    p.setPen(QPen(QColor(0x1e, 0x8c, 0x3a), 2, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(3, 3, 10, 10), 90 * 16, 270 * 16);
    p.setBrush(QColor(0x1e, 0x8c, 0x3a));
    p.setPen(Qt::NoPen);
    p.drawPolygon(QPolygonF({QPointF(8, 0.5), QPointF(12, 3), QPointF(8, 5.5)}));
}

}  // namespace

QPixmap HeaderBanner(const QSize& size) {
    QPixmap pixmap = Blank(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, size.width(), size.height());
    sky.setColorAt(0, kNavy);
    sky.setColorAt(1, kSky);
    p.fillRect(pixmap.rect(), sky);
    p.setPen(QColor(255, 255, 255, 40));
    for (int x = -size.height(); x < size.width(); x += 18)
        p.drawLine(x, size.height(), x + size.height(), 0);
    QFont title = p.font();
    title.setPixelSize(30);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRect(17, 10, size.width() - 34, 40), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Kavelon"));
    QFont subtitle = p.font();
    subtitle.setPixelSize(13);
    subtitle.setBold(false);
    p.setFont(subtitle);
    p.drawText(QRect(17, 48, size.width() - 34, 20), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Elektronisch bestellen bij Rilvost"));
    return pixmap;
}

QPixmap FooterStrip(const QSize& size) {
    QPixmap pixmap = Blank(size);
    QPainter p(&pixmap);
    QLinearGradient band(0, 0, 0, size.height());
    band.setColorAt(0, QColor(0xe4, 0xec, 0xf7));
    band.setColorAt(1, QColor(0xc4, 0xd4, 0xea));
    p.fillRect(pixmap.rect(), band);
    p.setPen(kSky);
    p.drawLine(0, 0, size.width(), 0);
    return pixmap;
}

QIcon ButtonIcon(ButtonPicture picture) {
    QPixmap pixmap = Blank(QSize(16, 16));
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    switch (picture) {
        case ButtonPicture::Bekijken:
            DrawMagnifier(p);
            break;
        case ButtonPicture::Select:
            DrawBox(p, true);
            break;
        case ButtonPicture::Deselect:
            DrawBox(p, false);
            break;
        case ButtonPicture::Delete:
            DrawCross(p);
            break;
        case ButtonPicture::WebOrder:
            DrawGlobe(p);
            break;
        case ButtonPicture::Refresh:
            DrawRefresh(p);
            break;
    }
    return QIcon(pixmap);
}

}  // namespace kavelon
