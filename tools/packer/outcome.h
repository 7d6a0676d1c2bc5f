// A value or the reason there is none: how the packer's steps report failure to their caller.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace packer {

struct Failure {
  std::string message;
};

template <typename T>
class Outcome {
 public:
  Outcome(T value) : state_(std::move(value)) {}
  Outcome(Failure failure) : state_(std::move(failure)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& value() { return std::get<0>(state_); }
  const T& value() const { return std::get<0>(state_); }
  T& operator*() { return value(); }
  const T& operator*() const { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  const std::string& error() const { return std::get<1>(state_).message; }
  Failure failure() const { return std::get<1>(state_); }

 private:
  std::variant<T, Failure> state_;
};

// For steps that give nothing back but may fail.
struct Done {};

}  // namespace packer
