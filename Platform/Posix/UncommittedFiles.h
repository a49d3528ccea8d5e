// The link between output files and interrupts in the POSIX layer. Internal to Platform/Posix.
#pragma once

namespace quillet::platform::posix {

// Removes the named temporary file of every OutputFile not yet committed. Called by an interrupt
// with the interrupt hold taken, so that no file is being created, renamed or removed meanwhile
// (Platform/Posix/OutputFile.cpp).
void RemoveUncommittedFiles();

} // namespace quillet::platform::posix
