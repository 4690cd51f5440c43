#include "widgets/controls/Shape.h"

#include "widgets/controls/VbColor.h"

#include <QPainter>

namespace quenta {

Shape::Shape(QWidget *parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void Shape::setFillColor(std::uint32_t bgr) {
    if (bgr != fillColor_) {
        fillColor_ = bgr;
        update();
    }
}

void Shape::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int side = std::min(width(), height()) - 2;
    const QRectF lamp((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(fromBgr(fillColor_));
    painter.drawEllipse(lamp);
}

} // namespace quenta
