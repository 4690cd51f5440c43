#pragma once

#include <QWidget>

#include <cstdint>

namespace quenta {

// A filled shape used as a lamp: its fill colour is read and written by the program.
class Shape : public QWidget {
    Q_OBJECT
public:
    explicit Shape(QWidget *parent = nullptr);

    std::uint32_t fillColor() const { return fillColor_; }
    void setFillColor(std::uint32_t bgr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::uint32_t fillColor_ = 0x00FFFF; // yellow
};

} // namespace quenta
