// The packer's own failures: bad input that stops a command. The message names the file.
#pragma once

#include "Common/Exception.h"

namespace quillet::packer {

class EPackerError : public Exception {
public:
  using Exception::Exception;
  const char* ClassName() const override { return "EPackerError"; }
};

} // namespace quillet::packer
