// Room common: the program folder, code page 936 texts, the result type, the one target
// check and atomic writer every file goes through. Uses Qt Core only; ui/ the dialogs'
// interfaces.
#pragma once

#include <QString>

#include <optional>
#include <utility>

namespace kx {

// The error half of a result: a message for the user, naming the file and the fault.
struct Failure {
    QString message;
};

inline Failure fail(QString message) {
    return Failure{std::move(message)};
}

// Outcome of an operation that returns nothing: success or a message.
class [[nodiscard]] Status {
public:
    Status() = default;
    Status(Failure f) : error_(std::move(f.message)), failed_(true) {}

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const QString& error() const { return error_; }

private:
    QString error_;
    bool failed_ = false;
};

// Outcome of an operation that returns a value: the value or a message. Nothing throws
// across module boundaries; callers test ok() and read value() or error().
template <typename T> class [[nodiscard]] Result {
public:
    Result(T value) : value_(std::move(value)) {}
    Result(Failure f) : error_(std::move(f.message)) {}

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    const QString& error() const { return error_; }
    T& value() { return *value_; }
    const T& value() const { return *value_; }
    T take() { return std::move(*value_); }
    Status status() const { return ok() ? Status() : Status(fail(error_)); }

private:
    std::optional<T> value_;
    QString error_;
};

} // namespace kx
