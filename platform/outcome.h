// Results as values. A step that can fail gives back whether it succeeded together with the
// Windows error code that tells why it did not, the way an installer process reports its exit
// code with the Windows error beside it. The code is taken right after the call that set it, inside
// the platform binding, and from then on travels only in these values.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>

namespace updater {

// A failed step and its Windows error code. The code may be 0 when the platform gave none; the
// caller that shows it decides what stands in for it.
struct Failure {
  uint32_t error = 0;
};

// Success, or a failure with its error code.
class Status {
 public:
  Status() = default;                                             // success
  Status(Failure failure) : ok_(false), error_(failure.error) {}  // NOLINT: implicit by design

  bool ok() const { return ok_; }
  explicit operator bool() const { return ok_; }
  uint32_t error() const { return error_; }  // 0 on success

 private:
  bool ok_ = true;
  uint32_t error_ = 0;
};

// A value, or a failure with its error code.
template <typename T>
class Outcome {
 public:
  Outcome(T value) : value_(std::move(value)) {}       // NOLINT: implicit by design
  Outcome(Failure failure) : error_(failure.error) {}  // NOLINT: implicit by design

  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  uint32_t error() const { return error_; }  // 0 on success

  T& operator*() { return *value_; }
  const T& operator*() const { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }

  // The failure, for a caller that passes it on.
  Failure failure() const { return Failure{error_}; }

 private:
  std::optional<T> value_;
  uint32_t error_ = 0;
};

}  // namespace updater
