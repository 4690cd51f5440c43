#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>

namespace quenta {

// The transfer display: a bar filled in proportion to value/maximum with a one-word state text
// drawn over it. The program only writes it; the getters serve whoever needs to look at it.
class ProgressBar : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText)
public:
    explicit ProgressBar(QWidget *parent = nullptr);

    void setText(const QString &text);
    void setBarColor(std::uint32_t bgr);
    void setMax(std::int32_t max);
    void setValue(std::int32_t value);

    const QString &text() const { return text_; }
    std::uint32_t barColor() const { return barColor_; }
    std::int32_t max() const { return max_; }
    std::int32_t value() const { return value_; }
    // The filled fraction of the bar, 0 to 1.
    double fraction() const;

    QSize sizeHint() const override { return {381, 17}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString text_ = QStringLiteral("NO FILE");
    std::uint32_t barColor_ = 0xFF0000; // blue
    std::int32_t max_ = 0;
    std::int32_t value_ = 0;
};

} // namespace quenta
