#include "SearchIcon.h"

#include <QApplication>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPalette>

namespace {

class MagnifierEngine : public QIconEngine
{
public:
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override
    {
        const QPalette palette = QApplication::palette();
        const QColor colour = palette.color(mode == QIcon::Disabled ? QPalette::Disabled : QPalette::Active,
                                            QPalette::ButtonText);
        const qreal side = qMin(rect.width(), rect.height());
        const QPointF origin = QRectF(rect).center() - QPointF(side / 2, side / 2);
        const qreal stroke = qMax<qreal>(1.5, side * 0.12);
        // The lens in the upper left, the handle towards the lower right corner.
        const QPointF centre = origin + QPointF(side * 0.42, side * 0.42);
        const qreal radius = side * 0.42 - stroke;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setBrush(Qt::NoBrush);
        painter->setPen(QPen(colour, stroke));
        painter->drawEllipse(centre, radius, radius);
        const qreal edge = radius * 0.7071 + stroke / 2;
        painter->setPen(QPen(colour, stroke * 1.4, Qt::SolidLine, Qt::RoundCap));
        painter->drawLine(centre + QPointF(edge, edge),
                          origin + QPointF(side, side) - QPointF(stroke, stroke) * 0.7);
        painter->restore();
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        painter.end();
        return QPixmap::fromImage(image);
    }

    QIconEngine* clone() const override { return new MagnifierEngine; }
    QString key() const override { return QStringLiteral("VelmorMagnifier"); }
};

} // namespace

QIcon searchIcon()
{
    return QIcon(new MagnifierEngine);
}
