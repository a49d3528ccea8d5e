#include "Platform/Posix/WineRegistry.h"
#include "Platform/Posix/CodePage.h"
#include "Platform/Posix/RegistryText.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "Platform/Ascii.h"

namespace quillet::platform::posix {

namespace {

constexpr std::u16string_view WOW64_NODE_FOLDED = u"WOW6432NODE";
constexpr std::u16string_view SOFTWARE_FOLDED = u"SOFTWARE";

// A file is read in pieces of this size: small enough to stay in the processor's cache, large
// enough that the system calls do not count.
constexpr std::size_t READ_PIECE = 256 * 1024;
// The longest line that is held: a longer one (no registry Wine writes has one; a damaged or
// hostile file may) is passed over without being held. A section line that long names no key,
// and a value line that long is taken as absent.
constexpr std::size_t MAX_LINE = 1024 * 1024;

// Appends the case-folded form of a UTF-8 name: its characters upper-cased, as UTF-16 code units.
void AppendFolded(std::u16string& out, std::string_view name) {
  AppendFoldedName(out, name, CodePage::Active());
}

std::u16string Folded(std::string_view name) {
  std::u16string folded;
  AppendFolded(folded, name);
  return folded;
}

// The index key of a subkey: its parent's id followed by its folded name.
void MakeIndexKey(std::u16string& key, std::uint32_t parent, std::u16string_view folded) {
  key.clear();
  key += static_cast<char16_t>(parent & 0xFFFF);
  key += static_cast<char16_t>(parent >> 16);
  key += folded;
}

// Calls visit(begin, end) for every non-empty "\"-separated component of a path.
template <typename Visit> void ForEachComponent(std::string_view path, Visit visit) {
  std::size_t pos = 0;
  while (pos < path.size()) {
    std::size_t end = path.find('\\', pos);
    if (end == std::string_view::npos) {
      end = path.size();
    }
    if (end > pos && !visit(pos, end)) {
      return;
    }
    pos = end + 1;
  }
}

// The folded components of a path, without the Wow6432Node ones.
std::vector<std::u16string> ScopeComponents(std::string_view path) {
  std::vector<std::u16string> components;
  ForEachComponent(path, [&](std::size_t begin, std::size_t end) {
    std::u16string folded = Folded(path.substr(begin, end - begin));
    if (folded != WOW64_NODE_FOLDED) {
      components.push_back(std::move(folded));
    }
    return true;
  });
  return components;
}

bool EqualsUpperAscii(std::string_view ascii, std::u16string_view folded) {
  if (ascii.size() != folded.size()) {
    return false;
  }
  for (std::size_t i = 0; i < ascii.size(); ++i) {
    const char c = ascii[i];
    if (static_cast<char16_t>(AsciiUpper(c)) != folded[i]) {
      return false;
    }
  }
  return true;
}

// How much of a section a read limited to scopes keeps.
enum class Reach {
  None,   // nothing: its key lies beside every scope
  Prefix, // the keys up to its last Wow6432Node component before it left every scope
  Keys,   // its key and parents, not its values: it lies above a scope
  Whole,  // the key and its values: it lies at or below a scope
};

// Follows the components of one section path against every scope at once, Wow6432Node components
// passed over as the 32-bit view passes them.
class ScopeMatch {
public:
  explicit ScopeMatch(const std::vector<std::vector<std::u16string>>& scopes) : scopes_(scopes) {}

  void Reset() {
    states_.assign(scopes_.size(), State{});
    open_ = scopes_.size();
    wowEnd_ = 0;
  }

  // The next non-empty component, which ends at `end` in the path; `equals(folded)` compares it
  // with a scope's component. False once the section has left every scope: then it reaches
  // nothing more than the keys up to PrefixEnd().
  template <typename Equals> bool Feed(bool isWow, std::size_t end, Equals equals) {
    for (std::size_t i = 0; i < states_.size(); ++i) {
      State& state = states_[i];
      if (state.left || state.below) {
        continue;
      }
      if (state.matched == scopes_[i].size()) {
        state.below = true;
      } else if (isWow) {
        state.wowEnd = end;
      } else if (equals(scopes_[i][state.matched])) {
        ++state.matched;
      } else {
        state.left = true;
        wowEnd_ = std::max(wowEnd_, state.wowEnd);
        --open_;
      }
    }
    return open_ > 0;
  }

  // Once the section has left every scope: the end of the keys it still makes, 0 for none.
  std::size_t PrefixEnd() const { return wowEnd_; }

  // After the last component. For Prefix, `prefixEnd` is where the kept part of the path ends.
  Reach Finish(std::size_t& prefixEnd) const {
    Reach reach = Reach::None;
    prefixEnd = 0;
    for (std::size_t i = 0; i < states_.size(); ++i) {
      const State& state = states_[i];
      if (state.below || (!state.left && state.matched == scopes_[i].size())) {
        return Reach::Whole;
      }
      if (!state.left) {
        reach = Reach::Keys;
      } else if (state.wowEnd != 0 && reach != Reach::Keys) {
        reach = Reach::Prefix;
        prefixEnd = std::max(prefixEnd, state.wowEnd);
      }
    }
    return reach;
  }

private:
  struct State {
    std::size_t matched = 0; // components of the scope matched so far
    std::size_t wowEnd = 0;  // end of the last Wow6432Node component met, 0 for none
    bool below = false;      // went past the scope's last component
    bool left = false;       // met a component that is not the scope's
  };
  const std::vector<std::vector<std::u16string>>& scopes_;
  std::vector<State> states_;
  std::size_t open_ = 0;   // scopes not left
  std::size_t wowEnd_ = 0; // the largest wowEnd of the scopes left
};

// What a section line asks for: how far it reaches, and the decoded path to make.
struct SectionPlan {
  Reach reach = Reach::None;
  std::string path;
};

// What planning remembers from one section line to the next.
struct PlanMemory {
  // The text of the last prefix made from a plain line.
  std::string madePrefix;
  // The leading text of the last plain line found to reach nothing, up to and including the
  // separator or "]" after the component that decided it: a line that starts with the same text
  // reaches nothing either. Files list sections in tree order, so runs of them share it.
  std::string skipPrefix;
};

// Most section lines are plain ASCII with "\\" between components; for them the decoded path is
// the text itself and comparing is cheap, and most are told apart from every scope by their first
// component or two. Gives nullopt for a line with any other escape or a byte above ASCII, which
// the decoder must read (a code page may turn such a character into a letter). A section that
// leaves every scope after the same Wow6432Node components as the last prefix made would make
// nothing new, and is done with before the rest of its line is read.
std::optional<Reach> PlanPlainSection(std::string_view header, ScopeMatch& match,
                                      PlanMemory& memory, std::size_t& pathEnd,
                                      std::size_t& prefixEnd) {
  if (!memory.skipPrefix.empty() && header.starts_with(memory.skipPrefix)) {
    return Reach::None;
  }
  match.Reset();
  bool open = true;
  std::size_t pos = 0;
  std::size_t begin = 0;
  for (;;) {
    if (pos == header.size()) {
      return Reach::None; // no "]": a malformed line
    }
    const char c = header[pos];
    const bool last = c == ']';
    const bool separator = c == '\\';
    if (separator && (pos + 1 == header.size() || header[pos + 1] != '\\')) {
      return std::nullopt;
    }
    if (!last && !separator) {
      if (static_cast<unsigned char>(c) >= 0x80) {
        return std::nullopt;
      }
      ++pos;
      continue;
    }
    if (pos == 0 && separator) {
      return Reach::None; // a path that starts with "\": a malformed line
    }
    if (open && pos > begin) {
      const std::string_view component = header.substr(begin, pos - begin);
      const bool isWow = EqualsUpperAscii(component, WOW64_NODE_FOLDED);
      open = match.Feed(isWow, pos, [&](const std::u16string& folded) {
        return EqualsUpperAscii(component, folded);
      });
      if (!open &&
          (match.PrefixEnd() == 0 || header.substr(0, match.PrefixEnd()) == memory.madePrefix)) {
        memory.skipPrefix.assign(header.substr(0, pos + (separator ? 2 : 1)));
        return Reach::None;
      }
    }
    if (last) {
      pathEnd = pos;
      return match.Finish(prefixEnd);
    }
    pos += 2;
    begin = pos;
  }
}

// The plain text of a plain section path: "\\" becomes "\".
void AppendPlainPath(std::string& out, std::string_view raw) {
  for (std::size_t i = 0; i < raw.size(); ++i) {
    out += raw[i];
    if (raw[i] == '\\') {
      ++i;
    }
  }
}

SectionPlan PlanSection(std::string_view header, ScopeMatch& match, PlanMemory& memory) {
  SectionPlan plan;
  std::size_t pathEnd = 0;
  std::size_t prefixEnd = 0;
  if (const auto reach = PlanPlainSection(header, match, memory, pathEnd, prefixEnd)) {
    plan.reach = *reach;
    if (plan.reach == Reach::Prefix) {
      memory.madePrefix.assign(header.substr(0, prefixEnd));
    }
    if (plan.reach != Reach::None) {
      AppendPlainPath(plan.path,
                      header.substr(0, plan.reach == Reach::Prefix ? prefixEnd : pathEnd));
    }
    return plan;
  }
  auto path = DecodeSectionPath(header);
  if (!path) {
    return plan;
  }
  match.Reset();
  bool reachable = true;
  std::u16string folded;
  ForEachComponent(*path, [&](std::size_t begin, std::size_t end) {
    folded.clear();
    AppendFolded(folded, std::string_view(*path).substr(begin, end - begin));
    reachable = match.Feed(folded == WOW64_NODE_FOLDED, end,
                           [&](const std::u16string& scope) { return scope == folded; });
    return reachable;
  });
  plan.reach = reachable ? match.Finish(prefixEnd) : Reach::None;
  if (!reachable && match.PrefixEnd() != 0) {
    plan.reach = Reach::Prefix;
    prefixEnd = match.PrefixEnd();
  }
  if (plan.reach == Reach::Prefix) {
    path->resize(prefixEnd);
  }
  if (plan.reach != Reach::None) {
    plan.path = std::move(*path);
  }
  return plan;
}

} // namespace

std::optional<std::string> ReadAllBytes(RegistryBytes& source) {
  std::string text;
  char buffer[65536];
  for (;;) {
    const auto got = source.Read(buffer, sizeof buffer);
    if (!got) {
      return std::nullopt;
    }
    if (*got == 0) {
      return text;
    }
    text.append(buffer, *got);
  }
}

std::optional<std::size_t> TextBytes::Read(char* buffer, std::size_t capacity) {
  const std::size_t n = std::min({capacity, piece_, text_.size() - pos_});
  std::memcpy(buffer, text_.data() + pos_, n);
  pos_ += n;
  return n;
}

RegistryFile::RegistryFile(const std::string& nativePath) {
  fd_ = ::open(nativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) {
    return;
  }
  struct stat info {};
  // A FIFO or a device could block or never end.
  if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    return;
  }
  opened_ = Current().value_or(Identity{});
}

RegistryFile::~RegistryFile() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

std::optional<RegistryFile::Identity> RegistryFile::Current() const {
  struct stat info {};
  if (fd_ < 0 || ::fstat(fd_, &info) != 0) {
    return std::nullopt;
  }
  constexpr std::int64_t NANOSECONDS = 1000000000;
  return Identity{
      static_cast<std::uint64_t>(info.st_size),
      static_cast<std::int64_t>(info.st_mtim.tv_sec) * NANOSECONDS + info.st_mtim.tv_nsec,
      static_cast<std::int64_t>(info.st_ctim.tv_sec) * NANOSECONDS + info.st_ctim.tv_nsec};
}

bool RegistryFile::Unchanged() const {
  return IsOpen() && Current() == opened_;
}

std::optional<std::size_t> RegistryFile::Reader::Read(char* buffer, std::size_t capacity) {
  for (;;) {
    const ssize_t n = ::pread(fd_, buffer, capacity, static_cast<off_t>(offset_));
    if (n >= 0) {
      offset_ += static_cast<std::uint64_t>(n);
      return static_cast<std::size_t>(n);
    }
    if (errno != EINTR) {
      return std::nullopt;
    }
  }
}

WineRegistry::WineRegistry() {
  keys_.emplace_back();
}

WineRegistry::WineRegistry(std::string_view text) {
  keys_.emplace_back();
  scopes_.emplace_back(); // the root: every key
  coversAll_ = false;
  TextBytes bytes(text);
  Read(bytes);
}

WineRegistry::WineRegistry(RegistryBytes& source, const std::vector<std::string>& scopes) {
  keys_.emplace_back();
  for (const std::string& scope : scopes) {
    scopes_.push_back(ScopeComponents(scope));
  }
  coversAll_ = false;
  Read(source);
}

WineRegistry WineRegistry::Load(const std::string& nativePath) {
  RegistryFile file(nativePath);
  if (!file.IsOpen()) {
    return WineRegistry();
  }
  auto bytes = file.Bytes();
  return WineRegistry(bytes, {""});
}

bool WineRegistry::Covers(std::string_view path) const {
  if (coversAll_ || path.starts_with('\\')) {
    return true; // FindKey finds nothing for a leading "\" in any registry
  }
  const std::vector<std::u16string> components = ScopeComponents(path);
  return std::any_of(scopes_.begin(), scopes_.end(), [&](const auto& scope) {
    return scope.size() <= components.size() &&
           std::equal(scope.begin(), scope.end(), components.begin());
  });
}

bool WineRegistry::SameContent(const WineRegistry& other) const {
  if (text_ != other.text_ || is64Bit_ != other.is64Bit_ || keys_.size() != other.keys_.size()) {
    return false;
  }
  for (std::size_t i = 0; i < keys_.size(); ++i) {
    if (keys_[i].parent != other.keys_[i].parent || keys_[i].name != other.keys_[i].name) {
      return false;
    }
  }
  return true;
}

// One pass of Read over a file's pieces: what it carries from one piece to the next, each kind
// of stretch a piece can hold handled by a step of its own.
class WineRegistry::Scan {
public:
  explicit Scan(WineRegistry& registry) : registry_(registry), match_(registry.scopes_) {}

  // Takes one piece, [base, end); false when the file proves to be no registry file.
  bool Piece(const char* base, const char* end);
  // After the last piece: ends what is open and makes the registry's lookups; false when the file
  // is no registry file.
  bool End();

private:
  enum class Phase { FirstLine, Preamble, Sections };

  bool FirstLine(const char*& p, const char* end);
  void SkipLine(const char*& p, const char* end);
  void SectionLineRest(const char*& p, const char* end);
  void Lines(const char* base, const char*& p, const char* end);
  const char* FindSectionLine(const char* base, const char* p, const char* end) const;
  void Copy(const char* p, const char* copyEnd);
  void EndRegion(bool atSectionLine);
  void StartSection(std::string_view line);

  WineRegistry& registry_;
  ScopeMatch match_;
  PlanMemory memory_;
  SectionCache cache_;
  std::vector<std::pair<KeyId, std::size_t>> valueLines_;
  Phase phase_ = Phase::FirstLine;
  // A line that goes on in the next piece: the first line, or a section line.
  std::string pending_;
  bool inSectionLine_ = false;
  // Passing over the rest of a line longer than MAX_LINE.
  bool skippingLine_ = false;
  // Whether the lines of the current region go to text_: those of a kept section, and those
  // before the first section, which hold the file's options.
  bool copying_ = false;
  std::size_t regionStart_ = 0; // where the copied region starts in text_
  std::size_t lineStart_ = 0;   // where the last copied line starts in text_
  std::size_t bodyStart_ = 0;   // where its lines after the section line start
  std::optional<KeyId> sectionKey_;
  // Whether the bytes since the last line end before the current piece are all blanks, so that a
  // "[" at the piece's start, after blanks only, starts a section line.
  bool blankBefore_ = true;
};

bool WineRegistry::Scan::Piece(const char* base, const char* end) {
  const char* p = base;
  while (p < end) {
    if (phase_ == Phase::FirstLine) {
      if (!FirstLine(p, end)) {
        return false;
      }
    } else if (skippingLine_) {
      SkipLine(p, end);
    } else if (inSectionLine_) {
      SectionLineRest(p, end);
    } else {
      Lines(base, p, end);
    }
  }
  const char* k = end;
  while (k > base && IsBlank(k[-1])) {
    --k;
  }
  if (k != base) {
    blankBefore_ = k[-1] == '\n';
  }
  return true;
}

bool WineRegistry::Scan::End() {
  if (phase_ == Phase::FirstLine) {
    if (WithoutLineEnd(pending_) != FILE_HEADER) {
      return false;
    }
    phase_ = Phase::Preamble;
  }
  if (inSectionLine_) {
    StartSection(pending_); // the last line, without a line end
  }
  EndRegion(false);
  registry_.Finish(valueLines_);
  return true;
}

// The header, which must be the first line and may end in a later piece: a file is told to be no
// registry file as soon as its first bytes are not the header's.
bool WineRegistry::Scan::FirstLine(const char*& p, const char* end) {
  const auto* lineEnd = static_cast<const char*>(std::memchr(p, '\n', end - p));
  pending_.append(p, lineEnd != nullptr ? lineEnd : end);
  if (pending_.size() > FILE_HEADER.size() + 1) {
    return false;
  }
  if (lineEnd == nullptr) {
    p = end;
    return true;
  }
  if (WithoutLineEnd(pending_) != FILE_HEADER) {
    return false;
  }
  pending_.clear();
  phase_ = Phase::Preamble;
  copying_ = true;
  regionStart_ = 0;
  p = lineEnd + 1;
  return true;
}

// The rest of a line too long to hold, passed over without being looked at, up to its line end.
void WineRegistry::Scan::SkipLine(const char*& p, const char* end) {
  const auto* lineEnd = static_cast<const char*>(std::memchr(p, '\n', end - p));
  if (lineEnd == nullptr) {
    p = end;
    return;
  }
  skippingLine_ = false;
  p = lineEnd + 1;
}

// The rest of a section line that began in an earlier piece: held until its line end, as its
// whole path decides what the section makes.
void WineRegistry::Scan::SectionLineRest(const char*& p, const char* end) {
  const auto* lineEnd = static_cast<const char*>(std::memchr(p, '\n', end - p));
  if (lineEnd == nullptr) {
    pending_.append(p, end);
    if (pending_.size() > MAX_LINE) {
      // A section that names no key: what follows it, up to the next one, is not kept.
      pending_ = std::string();
      inSectionLine_ = false;
      skippingLine_ = true;
    }
    p = end;
    return;
  }
  pending_.append(p, lineEnd + 1);
  p = lineEnd + 1;
  inSectionLine_ = false;
  StartSection(pending_);
  pending_.clear();
}

// The lines up to the next section line, copied when their region is kept, and that section line
// itself when it ends in this piece. Only section lines are looked for here: the rest is copied
// in bulk and parsed once its region ends.
void WineRegistry::Scan::Lines(const char* base, const char*& p, const char* end) {
  const char* const section = FindSectionLine(base, p, end);
  if (copying_) {
    Copy(p, section != nullptr ? section : end);
  }
  if (section == nullptr) {
    p = end;
    return;
  }
  EndRegion(true);
  const auto* lineEnd = static_cast<const char*>(std::memchr(section, '\n', end - section));
  if (lineEnd == nullptr) {
    pending_.assign(section, end);
    inSectionLine_ = true;
    p = end;
    return;
  }
  StartSection(std::string_view(section, static_cast<std::size_t>(lineEnd + 1 - section)));
  p = lineEnd + 1;
}

// The next section line in [p, end): a "[" with nothing but blanks before it in its line; null
// when there is none.
const char* WineRegistry::Scan::FindSectionLine(const char* base, const char* p,
                                                const char* end) const {
  for (const char* q = p; q < end;) {
    const auto* bracket = static_cast<const char*>(std::memchr(q, '[', end - q));
    if (bracket == nullptr) {
      return nullptr;
    }
    const char* k = bracket;
    while (k > base && IsBlank(k[-1])) {
      --k;
    }
    if (k == base ? blankBefore_ : k[-1] == '\n') {
      return bracket;
    }
    q = bracket + 1;
  }
  return nullptr;
}

// Appends [p, copyEnd) to text_; a line that grows past MAX_LINE is dropped and its rest passed
// over, so that a damaged file cannot make text_ hold it.
void WineRegistry::Scan::Copy(const char* p, const char* copyEnd) {
  std::string& text = registry_.text_;
  const std::size_t copiedFrom = text.size();
  text.append(p, copyEnd);
  const auto* lastEnd = static_cast<const char*>(::memrchr(p, '\n', copyEnd - p));
  if (lastEnd != nullptr) {
    lineStart_ = copiedFrom + static_cast<std::size_t>(lastEnd + 1 - p);
  }
  if (text.size() - lineStart_ > MAX_LINE) {
    text.resize(lineStart_); // the value is taken as absent
    skippingLine_ = true;
  }
}

// Ends the copied region and parses its lines; `atSectionLine`: a section line follows, whose
// leading blanks were copied after the region's last line end.
void WineRegistry::Scan::EndRegion(bool atSectionLine) {
  if (!copying_) {
    return;
  }
  copying_ = false;
  std::string& text = registry_.text_;
  if (atSectionLine) {
    while (text.size() > regionStart_ && text.back() != '\n') {
      text.pop_back();
    }
  }
  if (phase_ == Phase::Preamble) {
    registry_.ParseLines(regionStart_, text.size(), std::nullopt, valueLines_);
    text.clear(); // only its options were wanted
  } else {
    registry_.ParseLines(bodyStart_, text.size(), sectionKey_, valueLines_);
  }
  lineStart_ = text.size();
}

// A whole section line, from its "[" to its line end included: makes the keys it reaches, and
// opens a copied region when its key lies at or below a scope.
void WineRegistry::Scan::StartSection(std::string_view line) {
  phase_ = Phase::Sections;
  const SectionPlan plan = PlanSection(WithoutLineEnd(line).substr(1), match_, memory_);
  if (plan.reach == Reach::None) {
    return;
  }
  const KeyId key = registry_.AddPath(plan.path, cache_);
  if (plan.reach == Reach::Whole) {
    std::string& text = registry_.text_;
    copying_ = true;
    sectionKey_ = key;
    regionStart_ = text.size();
    text.append(line);
    bodyStart_ = text.size();
    lineStart_ = bodyStart_;
  }
}

void WineRegistry::Read(RegistryBytes& source) {
  std::vector<char> buffer(READ_PIECE);
  Scan scan(*this);
  for (;;) {
    const auto got = source.Read(buffer.data(), buffer.size());
    const bool atEnd = got && *got == 0;
    if (!got || !(atEnd ? scan.End() : scan.Piece(buffer.data(), buffer.data() + *got))) {
      *this = WineRegistry(); // not a registry file, or a read that failed: an empty registry
      return;
    }
    if (atEnd) {
      return;
    }
  }
}

void WineRegistry::ParseLines(std::size_t begin, std::size_t end, std::optional<KeyId> section,
                              std::vector<std::pair<KeyId, std::size_t>>& valueLines) {
  const auto visit = [&](std::size_t at, std::string_view body) {
    if (body.front() == '#') {
      // Options count only before the first section; inside one they belong to its key.
      if (const std::optional<bool> is64Bit = section ? std::nullopt : Is64BitOption(body)) {
        is64Bit_ = *is64Bit;
      }
    } else if (section && (body.front() == '"' || body.front() == '@')) {
      valueLines.emplace_back(*section, at);
      ++keys_[*section].valueCount;
    }
  };
  ForEachLine(std::string_view(text_).substr(0, end), begin, visit);
}

void WineRegistry::Finish(const std::vector<std::pair<KeyId, std::size_t>>& valueLines) {
  // Group the value lines by key, each group in file order.
  std::size_t first = 0;
  for (Key& key : keys_) {
    key.firstValue = first;
    first += key.valueCount;
  }
  valueLines_.resize(valueLines.size());
  std::vector<std::size_t> filled(keys_.size(), 0);
  for (const auto& [key, offset] : valueLines) {
    valueLines_[keys_[key].firstValue + filled[key]++] = offset;
  }
  // Wine writes subkeys in order already; other files get sorted here.
  const auto byFoldedName = [this](KeyId a, KeyId b) { return keys_[a].folded < keys_[b].folded; };
  for (Key& key : keys_) {
    if (!std::is_sorted(key.children.begin(), key.children.end(), byFoldedName)) {
      std::sort(key.children.begin(), key.children.end(), byFoldedName);
    }
  }
}

WineRegistry::KeyId WineRegistry::AddPath(std::string_view decoded, SectionCache& cache) {
  std::string& path = cache.path;
  path.assign(decoded);
  // Sections come in tree order, so a section mostly shares its leading components with the one
  // before: those are taken from the previous chain instead of being looked up again.
  const std::string_view previous(cache.previousPath);
  const std::size_t shorter = std::min(path.size(), previous.size());
  const std::size_t common = static_cast<std::size_t>(
      std::mismatch(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(shorter),
                    previous.begin())
          .first -
      path.begin());
  KeyId key = ROOT_KEY;
  std::size_t pos = 0;
  std::size_t kept = 0;
  while (kept < cache.chain.size()) {
    const auto [end, id] = cache.chain[kept];
    if (end > common || (end < path.size() && path[end] != '\\')) {
      break;
    }
    key = id;
    pos = end;
    ++kept;
  }
  cache.chain.resize(kept);
  while (pos < path.size()) {
    std::size_t end = path.find('\\', pos);
    if (end == std::string::npos) {
      end = path.size();
    }
    if (end > pos) {
      key = FindOrAddSubkey(key, std::string_view(path).substr(pos, end - pos), cache.indexKey);
      cache.chain.emplace_back(end, key);
    }
    pos = end + 1;
  }
  std::swap(cache.previousPath, path);
  return key;
}

WineRegistry::KeyId WineRegistry::FindOrAddSubkey(KeyId parent, std::string_view name,
                                                  std::u16string& scratch) {
  std::u16string folded = Folded(name);
  MakeIndexKey(scratch, parent, folded);
  const auto [it, inserted] = index_.try_emplace(scratch, static_cast<KeyId>(keys_.size()));
  if (!inserted) {
    return it->second;
  }
  const KeyId id = it->second;
  keys_.push_back(Key{parent, std::string(name), std::move(folded), {}, 0, 0});
  keys_[parent].children.push_back(id);
  return id;
}

std::optional<WineRegistry::KeyId> WineRegistry::FindFolded(KeyId parent,
                                                            std::u16string_view folded) const {
  std::u16string indexKey;
  MakeIndexKey(indexKey, parent, folded);
  const auto it = index_.find(indexKey);
  if (it == index_.end()) {
    return std::nullopt;
  }
  return it->second;
}

std::optional<WineRegistry::KeyId> WineRegistry::FindSubkey(KeyId parent,
                                                            std::string_view name) const {
  return FindFolded(parent, Folded(name));
}

std::optional<WineRegistry::KeyId> WineRegistry::Wow64Branch(KeyId key) const {
  const Key& entry = keys_.at(key);
  if (entry.folded == WOW64_NODE_FOLDED) {
    return key;
  }
  const auto branch = FindFolded(key, WOW64_NODE_FOLDED);
  // The 32-bit programs' software lives under Software\Wow6432Node only: the 64-bit keys beside
  // it are none of theirs, even when that node is missing.
  if (!branch && key != ROOT_KEY && entry.parent == ROOT_KEY && entry.folded == SOFTWARE_FOLDED) {
    return std::nullopt;
  }
  return branch.value_or(key);
}

std::optional<WineRegistry::KeyId> WineRegistry::FindKey(std::string_view path, bool view32) const {
  if (!path.empty() && path.front() == '\\') {
    return std::nullopt;
  }
  const bool redirect = view32 && is64Bit_;
  KeyId key = ROOT_KEY;
  std::u16string folded;
  std::size_t pos = 0;
  for (;;) {
    while (pos < path.size() && path[pos] == '\\') {
      ++pos;
    }
    if (pos == path.size()) {
      break;
    }
    std::size_t end = path.find('\\', pos);
    if (end == std::string_view::npos) {
      end = path.size();
    }
    folded.clear();
    AppendFolded(folded, path.substr(pos, end - pos));
    pos = end;
    // A 32-bit program enters every key that has a Wow6432Node branch through that branch.
    if (redirect && folded != WOW64_NODE_FOLDED) {
      const auto branch = Wow64Branch(key);
      if (!branch) {
        return std::nullopt;
      }
      key = *branch;
    }
    const auto child = FindFolded(key, folded);
    if (!child) {
      return std::nullopt;
    }
    key = *child;
  }
  return redirect ? Wow64Branch(key) : key;
}

std::vector<std::string> WineRegistry::SubkeyNames(KeyId key) const {
  std::vector<std::string> names;
  const auto& children = keys_.at(key).children;
  names.reserve(children.size());
  for (const KeyId child : children) {
    names.push_back(keys_[child].name);
  }
  return names;
}

std::vector<std::string> WineRegistry::ValueNames(KeyId key) const {
  std::vector<std::string> names;
  const Key& entry = keys_.at(key);
  for (std::size_t i = entry.firstValue; i < entry.firstValue + entry.valueCount; ++i) {
    std::size_t next = 0;
    std::string name;
    if (ValueDataStart(LineAt(text_, valueLines_[i], next), name)) {
      names.push_back(std::move(name));
    }
  }
  return names;
}

bool WineRegistry::HasValue(KeyId key, std::string_view name) const {
  return FindValueData(key, name).has_value();
}

std::optional<RegistryValue> WineRegistry::QueryValue(KeyId key, std::string_view name) const {
  const auto dataAt = FindValueData(key, name);
  if (!dataAt) {
    return std::nullopt;
  }
  return ParseData(text_, *dataAt);
}

std::optional<std::size_t> WineRegistry::FindValueData(KeyId key, std::string_view name) const {
  const std::u16string wanted = Folded(name);
  std::optional<std::size_t> dataAt;
  std::string lineName;
  std::u16string folded;
  // Later lines of the same name replace earlier ones, so the last match counts.
  const Key& entry = keys_.at(key);
  for (std::size_t i = entry.firstValue; i < entry.firstValue + entry.valueCount; ++i) {
    std::size_t next = 0;
    const std::size_t lineStart = valueLines_[i];
    lineName.clear();
    const auto start = ValueDataStart(LineAt(text_, lineStart, next), lineName);
    if (!start) {
      continue;
    }
    folded.clear();
    AppendFolded(folded, lineName);
    if (folded == wanted) {
      dataAt = lineStart + *start;
    }
  }
  return dataAt;
}

} // namespace quillet::platform::posix
