#pragma once

#include <QString>

#include <stdexcept>

namespace quenta {

// An error raised by a hosted control to the procedure that used it: a number and a description.
class ControlError : public std::runtime_error {
public:
    ControlError(int number, const QString &description)
        : std::runtime_error(description.toStdString()), number_(number),
          description_(description) {}

    int number() const { return number_; }
    const QString &description() const { return description_; }

private:
    int number_;
    QString description_;
};

} // namespace quenta
