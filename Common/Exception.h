// The program's own failures. Each class names itself, because the top-level failure report
// prints the class name of the exception that ended the run.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "Platform/Process.h"

namespace quillet {

class Exception : public std::runtime_error {
public:
  // `where` defaults to an address inside the code that constructs the exception.
  explicit Exception(const std::string& message, const void* where = platform::CallerAddress())
      : std::runtime_error(message), where_(where) {}

  virtual const char* ClassName() const { return "Exception"; }
  const void* Where() const { return where_; }

private:
  const void* where_;
};

class ERegistryException : public Exception {
public:
  using Exception::Exception;
  const char* ClassName() const override { return "ERegistryException"; }
};

} // namespace quillet
