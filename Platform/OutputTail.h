// The end of a child's output as ChildResult keeps it, and the count of all of it: the one way
// both sides of RunWindowsProgram bound what a program's output costs in memory. For Platform/
// only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace quillet::platform {

class OutputTail {
public:
  explicit OutputTail(std::size_t limit) : limit_(limit) {}

  void Add(std::string_view piece) {
    total_ += piece.size();
    text_.append(piece);
    // Cut back to the limit only once twice as much is held, so that keeping the tail costs one
    // copy of it per `limit` bytes read.
    if (text_.size() > 2 * limit_) {
      text_.erase(0, text_.size() - limit_);
    }
  }

  // The last `limit` bytes; the tail is empty afterwards.
  std::string Take() {
    if (text_.size() > limit_) {
      text_.erase(0, text_.size() - limit_);
    }
    return std::exchange(text_, {});
  }

  std::uint64_t Total() const { return total_; }

private:
  std::size_t limit_;
  std::string text_;
  std::uint64_t total_ = 0;
};

} // namespace quillet::platform
