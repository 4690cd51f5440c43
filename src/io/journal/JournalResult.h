#pragma once

#include <QString>

#include <optional>
#include <utility>

namespace quenta {

// A value, or why there is none: a text for people that says what failed, where and why.
template <typename T> struct JournalResult {
    std::optional<T> value;
    QString error; // empty when there is a value

    static JournalResult failure(QString why) { return {std::nullopt, std::move(why)}; }

    explicit operator bool() const { return value.has_value(); }
    T &operator*() { return *value; }
    const T &operator*() const { return *value; }
    T *operator->() { return &*value; }
    const T *operator->() const { return &*value; }
};

} // namespace quenta
