// t_StringList: an ordered list of byte strings that is never sorted and keeps empty texts and
// duplicates.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quillet {

class t_StringList {
public:
  void Add(std::string_view text) { items_.emplace_back(text); }
  std::size_t Count() const { return items_.size(); }
  const std::string& operator[](std::size_t index) const { return items_.at(index); }

  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

private:
  std::vector<std::string> items_;
};

} // namespace quillet
