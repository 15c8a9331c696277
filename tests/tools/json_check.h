// A strict reader of JSON text for the tests: says whether a text is one valid JSON value
// (RFC 8259 grammar, nothing after it but white space), and picks a member's value out of
// the tools' output by name.
#pragma once

#include <cctype>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace vorlund::test {

class JsonChecker {
 public:
  explicit JsonChecker(std::string_view text) : text_(text) {}

  bool valid() {
    at_ = 0;
    return value() && (space(), at_ == text_.size());
  }

 private:
  void space() {
    while (at_ < text_.size() &&
           std::string_view(" \t\r\n").find(text_[at_]) != std::string_view::npos)
      ++at_;
  }
  bool take(char c) {
    space();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  bool literal(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }
  bool digits() {
    const std::size_t start = at_;
    while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
    return at_ > start;
  }
  bool number() {
    if (at_ < text_.size() && text_[at_] == '-') ++at_;
    if (at_ < text_.size() && text_[at_] == '0') {
      ++at_;
    } else if (!digits()) {
      return false;
    }
    if (at_ < text_.size() && text_[at_] == '.' && (++at_, !digits())) return false;
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      ++at_;
      if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
      if (!digits()) return false;
    }
    return true;
  }
  bool string() {
    if (!take('"')) return false;
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c == '\\') {
        if (at_ >= text_.size()) return false;
        const char e = text_[at_++];
        if (e == 'u') {
          for (int i = 0; i < 4; ++i, ++at_)
            if (at_ >= text_.size() || !std::isxdigit(static_cast<unsigned char>(text_[at_])))
              return false;
        } else if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
          return false;
        }
      }
    }
    return false;
  }
  template <typename Member>
  bool sequence(char close, Member member) {
    if (take(close)) return true;
    do {
      if (!member()) return false;
    } while (take(','));
    return take(close);
  }
  bool value() {
    space();
    if (at_ >= text_.size()) return false;
    switch (text_[at_]) {
      case '{':
        ++at_;
        return sequence('}', [&] { return string() && take(':') && value(); });
      case '[':
        ++at_;
        return sequence(']', [&] { return value(); });
      case '"':
        return string();
      case 't':
        return literal("true");
      case 'f':
        return literal("false");
      case 'n':
        return literal("null");
      default:
        return number();
    }
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

inline bool isValidJson(std::string_view text) {
  return JsonChecker(text).valid();
}

// The text of the first value named `key` ("\"key\": value"), up to the next ',', '}' or line
// end; quotes of a string value are removed.
inline std::optional<std::string> jsonMember(const std::string& text, const std::string& key) {
  const std::string mark = "\"" + key + "\": ";
  const std::size_t at = text.find(mark);
  if (at == std::string::npos) return std::nullopt;
  const std::size_t start = at + mark.size();
  std::string value = text.substr(start, text.find_first_of(",}\r\n", start) - start);
  if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
  return value;
}

inline std::optional<double> jsonNumber(const std::string& text, const std::string& key) {
  const std::optional<std::string> value = jsonMember(text, key);
  if (!value) return std::nullopt;
  char* end = nullptr;
  const double number = std::strtod(value->c_str(), &end);
  if (end == value->c_str()) return std::nullopt;
  return number;
}

}  // namespace vorlund::test
