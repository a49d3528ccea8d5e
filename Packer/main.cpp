// quillet-pack: builds, attaches, lists and tests Quillet packages.
#include <iostream>

#include "Packer/PackCommand.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  return quillet::packer::RunPackCommand(arguments, std::cout, std::cerr);
}
