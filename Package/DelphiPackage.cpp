#include "Package/DelphiPackage.h"

#include <algorithm>

#include "Platform/Ascii.h"

namespace quillet {

namespace {

bool IsLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool IsNameChar(char c) {
  return IsLetter(c) || (c >= '0' && c <= '9');
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

struct Token {
  enum class Kind { Name, String, Symbol, Directive, End };
  Kind kind = Kind::End;
  std::string text; // a name as written, a string's value, a symbol, a directive's body
};

// The tokens of Delphi source, as far as a package project needs them: names (dotted ones as one),
// quoted strings, single symbols, and compiler directives; comments are passed over.
class Tokenizer {
public:
  explicit Tokenizer(std::string_view text) : text_(text) {
    if (text_.starts_with("\xEF\xBB\xBF")) {
      text_.remove_prefix(3);
    }
  }

  Token Next() {
    while (at_ < text_.size()) {
      const char c = text_[at_];
      if (IsBlank(c)) {
        ++at_;
      } else if (c == '/' && Peek(1) == '/') {
        const std::size_t end = text_.find_first_of("\r\n", at_);
        at_ = end == std::string_view::npos ? text_.size() : end;
      } else if (c == '{') {
        const std::size_t end = text_.find('}', at_ + 1);
        if (Peek(1) == '$') {
          return Directive(at_ + 2, end, 1);
        }
        at_ = end == std::string_view::npos ? text_.size() : end + 1;
      } else if (c == '(' && Peek(1) == '*') {
        const std::size_t end = text_.find("*)", at_ + 2);
        if (Peek(2) == '$') {
          return Directive(at_ + 3, end, 2);
        }
        at_ = end == std::string_view::npos ? text_.size() : end + 2;
      } else if (c == '\'') {
        return String();
      } else if (IsLetter(c) || (c == '&' && IsLetter(Peek(1)))) {
        return Name();
      } else {
        ++at_;
        return {Token::Kind::Symbol, std::string(1, c)};
      }
    }
    return {};
  }

private:
  char Peek(std::size_t ahead) const {
    return ahead < text_.size() - at_ ? text_[at_ + ahead] : '\0';
  }

  Token Directive(std::size_t begin, std::size_t end, std::size_t closer) {
    if (end == std::string_view::npos) {
      end = text_.size();
      closer = 0;
    }
    Token token{Token::Kind::Directive, std::string(text_.substr(begin, end - begin))};
    at_ = end + closer;
    return token;
  }

  // 'It''s': a quote is doubled inside; a string ends at its line's end if never closed.
  Token String() {
    Token token{Token::Kind::String, {}};
    ++at_;
    while (at_ < text_.size() && text_[at_] != '\r' && text_[at_] != '\n') {
      if (text_[at_] == '\'') {
        if (Peek(1) != '\'') {
          ++at_;
          break;
        }
        ++at_;
      }
      token.text += text_[at_++];
    }
    return token;
  }

  // A name, dots joining its parts ("Vcl.Grids"); "&" escapes a reserved word.
  Token Name() {
    Token token{Token::Kind::Name, {}};
    at_ += text_[at_] == '&' ? 1 : 0;
    while (true) {
      while (at_ < text_.size() && IsNameChar(text_[at_])) {
        token.text += text_[at_++];
      }
      if (Peek(0) != '.' || !IsLetter(Peek(1))) {
        return token;
      }
      token.text += text_[at_++];
    }
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

bool Is(const Token& token, std::string_view word) {
  return token.kind == Token::Kind::Name && platform::EqualIgnoringAsciiCase(token.text, word);
}

bool IsSymbol(const Token& token, char symbol) {
  return token.kind == Token::Kind::Symbol && token.text.size() == 1 && token.text[0] == symbol;
}

// A directive's name and what follows it, trimmed.
struct DirectiveParts {
  std::string_view name;
  std::string_view argument;
};

DirectiveParts SplitDirective(std::string_view body) {
  std::size_t at = 0;
  while (at < body.size() && IsNameChar(body[at])) {
    ++at;
  }
  DirectiveParts parts{body.substr(0, at), body.substr(at)};
  while (!parts.argument.empty() && IsBlank(parts.argument.front())) {
    parts.argument.remove_prefix(1);
  }
  while (!parts.argument.empty() && IsBlank(parts.argument.back())) {
    parts.argument.remove_suffix(1);
  }
  return parts;
}

// A quoted argument's value; nullopt when the argument is not one string.
std::optional<std::string> Quoted(std::string_view argument) {
  if (argument.size() < 2 || argument.front() != '\'' || argument.back() != '\'') {
    return std::nullopt;
  }
  Tokenizer tokenizer(argument);
  Token token = tokenizer.Next();
  if (token.kind != Token::Kind::String || tokenizer.Next().kind != Token::Kind::End) {
    return std::nullopt;
  }
  return std::move(token.text);
}

// The file a {$R} or {$I} directive names: a quoted text or the first word; nothing for the
// switches of the same letters ({$R+}, {$I-}) and for the inserted texts of {$I %DATE%}.
std::string FileArgument(std::string_view argument) {
  if (argument.empty() || argument.front() == '+' || argument.front() == '-' ||
      argument.front() == '%') {
    return {};
  }
  if (argument.front() == '\'') {
    const std::size_t close = argument.find('\'', 1);
    return std::string(
        argument.substr(1, close == std::string_view::npos ? argument.npos : close - 1));
  }
  std::size_t end = 0;
  while (end < argument.size() && !IsBlank(argument[end])) {
    ++end;
  }
  return std::string(argument.substr(0, end));
}

// A switch written alone or with ON is set; with OFF it is cleared.
void TakeSwitch(std::string_view argument, bool& value) {
  if (argument.empty() || platform::EqualIgnoringAsciiCase(argument, "ON")) {
    value = true;
  } else if (platform::EqualIgnoringAsciiCase(argument, "OFF")) {
    value = false;
  }
}

void TakeDirective(std::string_view body, DelphiPackageSource& package) {
  const DirectiveParts parts = SplitDirective(body);
  const auto named = [&parts](std::string_view name) {
    return platform::EqualIgnoringAsciiCase(parts.name, name);
  };
  if (named("LIBSUFFIX")) {
    if (platform::EqualIgnoringAsciiCase(parts.argument, "AUTO")) {
      package.autoSuffix = true;
      package.libSuffix.clear();
    } else if (auto suffix = Quoted(parts.argument)) {
      package.autoSuffix = false;
      package.libSuffix = std::move(*suffix);
    }
  } else if (named("DESCRIPTION") || named("D")) {
    // {$D+} and {$D-} switch debug information; only a quoted text is a description.
    if (auto description = Quoted(parts.argument)) {
      package.description = std::move(*description);
    }
  } else if (named("R") || named("RESOURCE")) {
    if (std::string file = FileArgument(parts.argument); !file.empty()) {
      package.resources.push_back(std::move(file));
    }
  } else if (named("I") || named("INCLUDE")) {
    if (std::string file = FileArgument(parts.argument); !file.empty()) {
      package.includes.push_back(std::move(file));
    }
  } else if (named("DESIGNONLY")) {
    TakeSwitch(parts.argument, package.designOnly);
  } else if (named("RUNONLY")) {
    TakeSwitch(parts.argument, package.runOnly);
  }
}

} // namespace

std::optional<DelphiPackageSource> ParseDelphiPackage(std::string_view text) {
  DelphiPackageSource package;
  Tokenizer tokenizer(text);
  // Every directive counts wherever it stands; {$IFDEF} blocks are not evaluated.
  const auto next = [&tokenizer, &package] {
    Token token = tokenizer.Next();
    while (token.kind == Token::Kind::Directive) {
      TakeDirective(token.text, package);
      token = tokenizer.Next();
    }
    return token;
  };
  if (!Is(next(), "package")) {
    return std::nullopt;
  }
  Token name = next();
  if (name.kind != Token::Kind::Name || !IsSymbol(next(), ';')) {
    return std::nullopt;
  }
  package.name = std::move(name.text);
  for (Token token = next(); token.kind != Token::Kind::End && !Is(token, "end"); token = next()) {
    if (Is(token, "requires")) {
      for (token = next(); token.kind != Token::Kind::End && !IsSymbol(token, ';');
           token = next()) {
        if (token.kind == Token::Kind::Name) {
          package.required.push_back(std::move(token.text));
        }
      }
    } else if (Is(token, "contains")) {
      // "Unit in 'file.pas' {Form}, ...": a unit's name opens the list and follows each ",".
      bool unitNext = true;
      bool inNext = false;
      for (token = next(); token.kind != Token::Kind::End && !IsSymbol(token, ';');
           token = next()) {
        if (token.kind == Token::Kind::Name && unitNext) {
          package.contains.push_back(std::move(token.text));
          package.containsFiles.emplace_back();
        } else if (token.kind == Token::Kind::String && inNext && !package.contains.empty()) {
          package.containsFiles.back() = std::move(token.text);
        }
        inNext = Is(token, "in");
        unitNext = IsSymbol(token, ',');
      }
    }
    if (token.kind == Token::Kind::End) {
      break;
    }
  }
  return package;
}

std::string ResourceFileName(std::string_view written, std::string_view projectFile) {
  const std::size_t slash = projectFile.find_last_of("\\/");
  std::string_view stem =
      slash == std::string_view::npos ? projectFile : projectFile.substr(slash + 1);
  if (const std::size_t dot = stem.rfind('.'); dot != std::string_view::npos) {
    stem = stem.substr(0, dot);
  }
  std::string name;
  for (const char c : written) {
    if (c == '*') {
      name.append(stem);
    } else {
      name.push_back(c);
    }
  }
  const std::size_t nameStart = name.find_last_of("\\/") + 1;
  if (name.find('.', nameStart) == std::string::npos) {
    name += ".res";
  }
  return name;
}

std::vector<std::size_t> OrderByRequires(const std::vector<DelphiPackageSource>& packages,
                                         std::vector<std::string>* cycle) {
  const std::size_t count = packages.size();
  // The packages of the list that each one requires, by index.
  std::vector<std::vector<std::size_t>> needs(count);
  for (std::size_t i = 0; i < count; ++i) {
    for (const std::string& required : packages[i].required) {
      for (std::size_t j = 0; j < count; ++j) {
        if (j != i && platform::EqualIgnoringAsciiCase(packages[j].name, required)) {
          needs[i].push_back(j);
        }
      }
    }
  }
  // Depth first in the given order: a package goes out after what it needs, so the author's order
  // holds wherever the requirements allow it. 0 unseen, 1 on the current path, 2 placed.
  std::vector<int> state(count, 0);
  std::vector<std::size_t> order;
  std::vector<std::size_t> path;
  bool cycleFound = false;
  const auto visit = [&](auto& self, std::size_t i) -> void {
    state[i] = 1;
    path.push_back(i);
    for (const std::size_t j : needs[i]) {
      if (state[j] == 0) {
        self(self, j);
      } else if (state[j] == 1 && !cycleFound) {
        cycleFound = true;
        if (cycle != nullptr) {
          cycle->clear();
          const auto from = std::find(path.begin(), path.end(), j);
          for (auto at = from; at != path.end(); ++at) {
            cycle->push_back(packages[*at].name);
          }
          cycle->push_back(packages[j].name);
        }
      }
    }
    path.pop_back();
    state[i] = 2;
    order.push_back(i);
  };
  for (std::size_t i = 0; i < count; ++i) {
    if (state[i] == 0) {
      visit(visit, i);
    }
  }
  if (cycleFound) {
    order.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
      order[i] = i;
    }
  }
  return order;
}

std::string AutoLibSuffix(std::uint32_t bdsMajor) {
  // From RAD Studio 10.4 (BDS 21.0): 270, 280 for 11, 290 for 12; from 13 (BDS 37.0) the package
  // version is the BDS version.
  if (bdsMajor < 21) {
    return {};
  }
  return std::to_string((bdsMajor < 37 ? bdsMajor + 6 : bdsMajor) * 10);
}

std::string BplFileName(const DelphiPackageSource& package, std::uint32_t bdsMajor) {
  return package.name + (package.autoSuffix ? AutoLibSuffix(bdsMajor) : package.libSuffix) + ".bpl";
}

std::string DcpFileName(const DelphiPackageSource& package) {
  return package.name + ".dcp";
}

} // namespace quillet
