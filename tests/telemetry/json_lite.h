// A strict little JSON reader for the tests: the whole text must be one value, strings must be
// well-formed UTF-8 without raw control characters. Enough to prove every outbox line intact.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace oku::test::json {

struct Value {
  enum class Kind { Null, Bool, Number, String, Array, Object };
  Kind kind = Kind::Null;
  bool boolean = false;
  std::string text;  // the string, or the number's digits
  std::vector<Value> items;
  std::vector<std::pair<std::string, Value>> members;

  const Value* Get(std::string_view key) const {
    for (const auto& [name, value] : members) {
      if (name == key) return &value;
    }
    return nullptr;
  }
  bool IsString() const { return kind == Kind::String; }
};

namespace detail {

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  bool ParseDocument(Value* out) {
    if (!ParseValue(out, 0)) return false;
    SkipBlanks();
    return pos_ == text_.size();
  }

 private:
  void SkipBlanks() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n' || text_[pos_] == '\r')) {
      ++pos_;
    }
  }
  bool Take(char c) {
    SkipBlanks();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool Literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  bool ParseValue(Value* out, int depth) {
    if (depth > 64) return false;
    SkipBlanks();
    if (pos_ >= text_.size()) return false;
    const char c = text_[pos_];
    if (c == '{') return ParseObject(out, depth);
    if (c == '[') return ParseArray(out, depth);
    if (c == '"') {
      out->kind = Value::Kind::String;
      return ParseString(&out->text);
    }
    if (c == 't') {
      out->kind = Value::Kind::Bool;
      out->boolean = true;
      return Literal("true");
    }
    if (c == 'f') {
      out->kind = Value::Kind::Bool;
      return Literal("false");
    }
    if (c == 'n') {
      out->kind = Value::Kind::Null;
      return Literal("null");
    }
    return ParseNumber(out);
  }

  bool ParseNumber(Value* out) {
    const std::size_t start = pos_;
    if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
    std::size_t digits = 0;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
      ++pos_;
      ++digits;
    }
    if (digits == 0) return false;
    if (pos_ < text_.size() && text_[pos_] == '.') {
      ++pos_;
      std::size_t fraction = 0;
      while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
        ++pos_;
        ++fraction;
      }
      if (fraction == 0) return false;
    }
    out->kind = Value::Kind::Number;
    out->text = std::string(text_.substr(start, pos_ - start));
    return true;
  }

  bool ParseArray(Value* out, int depth) {
    out->kind = Value::Kind::Array;
    ++pos_;
    if (Take(']')) return true;
    do {
      Value item;
      if (!ParseValue(&item, depth + 1)) return false;
      out->items.push_back(std::move(item));
    } while (Take(','));
    return Take(']');
  }

  bool ParseObject(Value* out, int depth) {
    out->kind = Value::Kind::Object;
    ++pos_;
    if (Take('}')) return true;
    do {
      SkipBlanks();
      std::string key;
      if (pos_ >= text_.size() || text_[pos_] != '"' || !ParseString(&key)) return false;
      if (!Take(':')) return false;
      Value value;
      if (!ParseValue(&value, depth + 1)) return false;
      out->members.emplace_back(std::move(key), std::move(value));
    } while (Take(','));
    return Take('}');
  }

  static void AppendUtf8(std::string* out, std::uint32_t cp) {
    if (cp < 0x80) {
      out->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }

  bool Hex4(std::uint32_t* value) {
    if (pos_ + 4 > text_.size()) return false;
    *value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[pos_++];
      *value <<= 4;
      if (c >= '0' && c <= '9') *value |= static_cast<std::uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f') *value |= static_cast<std::uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') *value |= static_cast<std::uint32_t>(c - 'A' + 10);
      else return false;
    }
    return true;
  }

  // Length of a well-formed UTF-8 sequence at pos_, 0 if there is none.
  std::size_t Utf8Length() const {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text_[k]); };
    const unsigned char lead = at(pos_);
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return 0;
    }
    if (pos_ + length > text_.size() || at(pos_ + 1) < low || at(pos_ + 1) > high) return 0;
    for (std::size_t k = 2; k < length; ++k) {
      if ((at(pos_ + k) & 0xC0) != 0x80) return 0;
    }
    return length;
  }

  bool ParseString(std::string* out) {
    ++pos_;  // opening quote
    while (pos_ < text_.size()) {
      const unsigned char c = static_cast<unsigned char>(text_[pos_]);
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c < 0x20) return false;
      if (c == '\\') {
        if (++pos_ >= text_.size()) return false;
        const char e = text_[pos_++];
        switch (e) {
          case '"': out->push_back('"'); break;
          case '\\': out->push_back('\\'); break;
          case '/': out->push_back('/'); break;
          case 'b': out->push_back('\b'); break;
          case 'f': out->push_back('\f'); break;
          case 'n': out->push_back('\n'); break;
          case 'r': out->push_back('\r'); break;
          case 't': out->push_back('\t'); break;
          case 'u': {
            std::uint32_t cp = 0;
            if (!Hex4(&cp)) return false;
            if (cp >= 0xD800 && cp <= 0xDBFF) {
              std::uint32_t low = 0;
              if (!Literal("\\u") || !Hex4(&low) || low < 0xDC00 || low > 0xDFFF) return false;
              cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
              return false;
            }
            AppendUtf8(out, cp);
            break;
          }
          default:
            return false;
        }
        continue;
      }
      if (c < 0x80) {
        out->push_back(static_cast<char>(c));
        ++pos_;
        continue;
      }
      const std::size_t length = Utf8Length();
      if (length == 0) return false;
      out->append(text_.substr(pos_, length));
      pos_ += length;
    }
    return false;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace detail

inline bool Parse(std::string_view text, Value* out) { return detail::Parser(text).ParseDocument(out); }

}  // namespace oku::test::json
