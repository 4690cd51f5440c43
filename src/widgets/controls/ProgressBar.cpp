#include "widgets/controls/ProgressBar.h"

#include "widgets/controls/VbColor.h"

#include <QPainter>
#include <algorithm>

namespace quenta {

ProgressBar::ProgressBar(QWidget *parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ProgressBar::setText(const QString &text) {
    text_ = text;
    update();
}

void ProgressBar::setBarColor(std::uint32_t bgr) {
    barColor_ = bgr;
    update();
}

void ProgressBar::setMax(std::int32_t max) {
    max_ = max;
    update();
}

void ProgressBar::setValue(std::int32_t value) {
    value_ = value;
    update();
}

double ProgressBar::fraction() const {
    if (max_ <= 0 || value_ <= 0) {
        return 0.0;
    }
    return std::min(1.0, static_cast<double>(value_) / static_cast<double>(max_));
}

void ProgressBar::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    const QRect frame = rect().adjusted(0, 0, -1, -1);
    painter.fillRect(rect(), palette().color(QPalette::Base));
    const int filled = static_cast<int>(fraction() * (frame.width() - 1) + 0.5);
    if (filled > 0) {
        painter.fillRect(QRect(frame.left() + 1, frame.top() + 1, filled, frame.height() - 1),
                         fromBgr(barColor_));
    }
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(frame);
    if (!text_.isEmpty()) {
        painter.setPen(Qt::black);
        painter.drawText(rect(), Qt::AlignCenter, text_);
    }
}

} // namespace quenta
