#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace sunindex {

/// The one error of the readers: a bad or missing CSV header, or the first
/// unparsable row of a file.
class DataError {
 public:
  enum class Kind {
    invalid_csv_header,  // the CSV header is missing, unreadable or lacks a column
    parse,               // a row failed; row() and message() say where and what
  };

  static DataError invalid_csv_header() { return DataError(Kind::invalid_csv_header, 0, {}); }
  static DataError parse(std::uint64_t row, std::string message) {
    return DataError(Kind::parse, row, std::move(message));
  }

  Kind kind() const noexcept { return kind_; }
  std::uint64_t row() const noexcept { return row_; }
  const std::string& message() const noexcept { return message_; }

  /// The text Python sees, e.g. "parse error at row 12: invalid date".
  std::string text() const {
    if (kind_ == Kind::invalid_csv_header) return "invalid or missing CSV header";
    return "parse error at row " + std::to_string(row_) + ": " + message_;
  }

 private:
  DataError(Kind kind, std::uint64_t row, std::string message)
      : kind_(kind), row_(row), message_(std::move(message)) {}

  Kind kind_;
  std::uint64_t row_;
  std::string message_;
};

/// A value or the error that prevented it.
template <class T, class Error = DataError>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}
  Result(Error error) : state_(std::move(error)) {}

  bool ok() const noexcept { return state_.index() == 0; }
  T& value() noexcept { return *std::get_if<0>(&state_); }
  Error& error() noexcept { return *std::get_if<1>(&state_); }

 private:
  std::variant<T, Error> state_;
};

}  // namespace sunindex
