#include "panel_json.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace vorlund {
namespace {

class JsonReader {
 public:
  explicit JsonReader(std::string_view text) : text_(text) {}

  std::optional<JsonValue> document(std::string& error) {
    JsonValue value;
    if (!readValue(value, 0)) {
      error = "at byte " + std::to_string(position_) + ": " + problem_;
      return std::nullopt;
    }
    skipSpace();
    if (position_ != text_.size()) {
      error = "at byte " + std::to_string(position_) + ": text after the value";
      return std::nullopt;
    }
    return value;
  }

 private:
  bool fail(const char* problem) {
    problem_ = problem;
    return false;
  }
  void skipSpace() {
    while (position_ < text_.size() && (text_[position_] == ' ' || text_[position_] == '\t' ||
                                        text_[position_] == '\n' || text_[position_] == '\r'))
      ++position_;
  }
  bool take(char c) {
    skipSpace();
    if (position_ < text_.size() && text_[position_] == c) {
      ++position_;
      return true;
    }
    return false;
  }
  bool literal(std::string_view word) {
    if (text_.substr(position_, word.size()) != word) return fail("unknown literal");
    position_ += word.size();
    return true;
  }

  bool readValue(JsonValue& value, int depth) {
    if (depth > kMaxJsonDepth) return fail("nested too deeply");
    skipSpace();
    if (position_ == text_.size()) return fail("expected a value");
    const char c = text_[position_];
    switch (c) {
      case '{':
        value.type = JsonValue::Type::object;
        return readObject(value, depth);
      case '[':
        value.type = JsonValue::Type::array;
        return readArray(value, depth);
      case '"':
        value.type = JsonValue::Type::string;
        return readString(value.text);
      case 't':
        value.type = JsonValue::Type::boolean;
        value.boolean = true;
        return literal("true");
      case 'f':
        value.type = JsonValue::Type::boolean;
        return literal("false");
      case 'n':
        return literal("null");
      default:
        value.type = JsonValue::Type::number;
        return readNumber(value.number);
    }
  }

  bool readObject(JsonValue& value, int depth) {
    ++position_;
    if (take('}')) return true;
    do {
      skipSpace();
      std::string name;
      if (position_ == text_.size() || text_[position_] != '"') return fail("expected a name");
      if (!readString(name)) return false;
      if (!take(':')) return fail("expected ':'");
      JsonValue member;
      if (!readValue(member, depth + 1)) return false;
      value.names.push_back(std::move(name));
      value.items.push_back(std::move(member));
    } while (take(','));
    return take('}') || fail("expected ',' or '}'");
  }

  bool readArray(JsonValue& value, int depth) {
    ++position_;
    if (take(']')) return true;
    do {
      JsonValue item;
      if (!readValue(item, depth + 1)) return false;
      value.items.push_back(std::move(item));
    } while (take(','));
    return take(']') || fail("expected ',' or ']'");
  }

  bool readHex4(std::uint32_t& unit) {
    if (text_.size() - position_ < 4) return fail("short \\u escape");
    unit = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = text_[position_++];
      unit <<= 4;
      if (h >= '0' && h <= '9') {
        unit |= static_cast<std::uint32_t>(h - '0');
      } else if (h >= 'a' && h <= 'f') {
        unit |= static_cast<std::uint32_t>(h - 'a' + 10);
      } else if (h >= 'A' && h <= 'F') {
        unit |= static_cast<std::uint32_t>(h - 'A' + 10);
      } else {
        return fail("bad \\u escape");
      }
    }
    return true;
  }

  static void appendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  bool readString(std::string& out) {
    ++position_;  // the opening quote
    while (position_ < text_.size()) {
      const char c = text_[position_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return fail("control character in a string");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (position_ == text_.size()) break;
      const char e = text_[position_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          std::uint32_t unit = 0;
          if (!readHex4(unit)) return false;
          if (unit >= 0xD800 && unit < 0xDC00) {
            std::uint32_t low = 0;
            if (text_.substr(position_, 2) != "\\u") return fail("lone surrogate");
            position_ += 2;
            if (!readHex4(low)) return false;
            if (low < 0xDC00 || low >= 0xE000) return fail("lone surrogate");
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
          } else if (unit >= 0xDC00 && unit < 0xE000) {
            return fail("lone surrogate");
          }
          appendUtf8(out, unit);
          break;
        }
        default:
          return fail("bad escape");
      }
    }
    return fail("unterminated string");
  }

  bool readNumber(double& number) {
    // The grammar of RFC 8259 first; from_chars alone would take "inf" or "1." too.
    const std::size_t start = position_;
    std::size_t p = position_;
    auto digits = [&] {
      const std::size_t first = p;
      while (p < text_.size() && std::isdigit(static_cast<unsigned char>(text_[p]))) ++p;
      return p > first;
    };
    if (p < text_.size() && text_[p] == '-') ++p;
    if (p < text_.size() && text_[p] == '0') {
      ++p;
    } else if (!digits()) {
      return fail("expected a value");
    }
    if (p < text_.size() && text_[p] == '.') {
      ++p;
      if (!digits()) return fail("expected digits after '.'");
    }
    if (p < text_.size() && (text_[p] == 'e' || text_[p] == 'E')) {
      ++p;
      if (p < text_.size() && (text_[p] == '+' || text_[p] == '-')) ++p;
      if (!digits()) return fail("expected an exponent");
    }
    const auto [end, error] = std::from_chars(text_.data() + start, text_.data() + p, number);
    if (error != std::errc() || end != text_.data() + p || !std::isfinite(number))
      return fail("number out of range");
    position_ = p;
    return true;
  }

  std::string_view text_;
  std::size_t position_ = 0;
  const char* problem_ = "";
};

}  // namespace

const JsonValue* JsonValue::member(std::string_view name) const noexcept {
  if (type != Type::object) return nullptr;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == name) return &items[i];
  }
  return nullptr;
}

std::optional<JsonValue> parseJson(std::string_view text, std::string& error) {
  return JsonReader(text).document(error);
}

}  // namespace vorlund
