#include "Platform/RecodingChannel.h"

#include <algorithm>
#include <utility>

namespace quillet::platform {

ReadOutcome RecodingChannel::Read(char* buffer, std::size_t capacity, std::size_t& got) {
  got = 0;
  while (pendingInput_.empty()) {
    char bytes[128];
    std::size_t n = 0;
    const ReadOutcome outcome = raw_->Read(bytes, sizeof bytes, n);
    if (outcome != ReadOutcome::Data) {
      if (heldInput_.empty() || outcome == ReadOutcome::Failed) {
        return outcome;
      }
      // The input ended inside a character: its bytes go on as they convert.
      pendingInput_ = recoding_->FromWire(std::exchange(heldInput_, {}));
      if (pendingInput_.empty()) {
        return outcome;
      }
      break;
    }
    heldInput_.append(bytes, n);
    const std::size_t tail = recoding_->IncompleteWireTail(heldInput_);
    pendingInput_ =
        recoding_->FromWire(std::string_view(heldInput_).substr(0, heldInput_.size() - tail));
    heldInput_.erase(0, heldInput_.size() - tail);
  }
  got = std::min(capacity, pendingInput_.size());
  pendingInput_.copy(buffer, got);
  pendingInput_.erase(0, got);
  return ReadOutcome::Data;
}

std::size_t RecodingChannel::Write(const char* data, std::size_t size) {
  heldOutput_.append(data, size);
  const std::size_t tail = recoding_->IncompleteTextTail(heldOutput_);
  const std::string wire =
      recoding_->ToWire(std::string_view(heldOutput_).substr(0, heldOutput_.size() - tail));
  heldOutput_.erase(0, heldOutput_.size() - tail);
  return raw_->Write(wire.data(), wire.size()) == wire.size() ? size : 0;
}

} // namespace quillet::platform
