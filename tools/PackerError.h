// The packer's own failures: bad input that stops a command. The message names the file.
#pragma once

#include "CoreAPITools/Exception.h"

namespace quillet::pack {

class EPackerError : public Exception {
public:
  using Exception::Exception;
  const char* ClassName() const override { return "EPackerError"; }
};

} // namespace quillet::pack
