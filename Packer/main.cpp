// quillet-pack: builds, attaches, lists and tests Quillet packages.
#include <iostream>

#include "Packer/PackCommand.h"
#include "Platform/Process.h"

int main(int argc, char** argv) {
  // In UTF-8 on every system, as the packer's texts are (Packer/PathText.h).
  return quillet::packer::RunPackCommand(quillet::platform::RuntimeArguments(argc, argv), std::cout,
                                         std::cerr);
}
