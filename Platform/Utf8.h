// UTF-8 text as code points and back, keeping bytes that are no UTF-8.
//
// Shared by both platforms: the packer reads names and texts as UTF-8, and the POSIX layer
// converts file names and terminal text. A byte that does not belong to a valid UTF-8 sequence
// becomes a pass-through marker, which encodes back to that same byte, so that no text is lost
// on its way through a conversion.
#pragma once

#include <string>
#include <string_view>

namespace quillet::platform {

constexpr char32_t PASS_THROUGH_BASE = 0x110000;

constexpr char32_t PassThrough(unsigned char byte) {
  return PASS_THROUGH_BASE + byte;
}
constexpr bool IsPassThrough(char32_t c) {
  return c >= PASS_THROUGH_BASE && c < PASS_THROUGH_BASE + 0x100;
}

std::u32string DecodeUtf8(std::string_view text);
std::string EncodeUtf8(std::u32string_view text);

// How many bytes at the end of `text` begin a UTF-8 character that more bytes would complete, so
// that a stream converted in pieces never splits a character.
std::size_t IncompleteUtf8Tail(std::string_view text);

} // namespace quillet::platform
