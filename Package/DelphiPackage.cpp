#include "Package/DelphiPackage.h"

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
      for (token = next(); token.kind != Token::Kind::End && !IsSymbol(token, ';');
           token = next()) {
        if (token.kind == Token::Kind::Name && unitNext) {
          package.contains.push_back(std::move(token.text));
        }
        unitNext = IsSymbol(token, ',');
      }
    }
    if (token.kind == Token::Kind::End) {
      break;
    }
  }
  return package;
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
