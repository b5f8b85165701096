#include "server/JsonLineParser.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace server {

using nlohmann::json;

JsonSyntaxError::JsonSyntaxError(const std::string& what, size_t offset)
    : std::runtime_error(what + " at byte " + std::to_string(offset + 1)), offset_(offset) {}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

class Reader final {
 public:
  Reader(std::string_view text, int maxDepth)
      : begin_(text.data()), p_(text.data()), end_(text.data() + text.size()), maxDepth_(maxDepth) {}

  ParsedLine Read() {
    ParsedLine out;
    if (end_ - p_ >= 3 && std::string_view(p_, 3) == "\xEF\xBB\xBF") p_ += 3;
    SkipSpace();
    if (p_ < end_ && *p_ == '[') {
      packDepth_ = 3;  // a batch: its requests' params lie one level deeper
      out.Doc = Array(0, &out.IdTexts);
    } else if (p_ < end_ && *p_ == '{') {
      out.IdTexts.emplace_back();
      out.Doc = Object(0, &out.IdTexts.back());
    } else {
      out.IdTexts.emplace_back();
      out.Doc = Value(0);
    }
    SkipSpace();
    if (p_ != end_) Fail("unexpected bytes after the value");
    out.TooDeep = tooDeep_;
    return out;
  }

 private:
  [[noreturn]] void Fail(const char* what) const {
    throw JsonSyntaxError(what, static_cast<size_t>(p_ - begin_));
  }

  void SkipSpace() {
    while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r')) ++p_;
  }

  // Consumes `c` after optional white space, or fails.
  void Expect(char c, const char* what) {
    SkipSpace();
    if (p_ == end_ || *p_ != c) Fail(what);
    ++p_;
  }

  json Value(int depth) {
    SkipSpace();
    if (p_ == end_) Fail("unexpected end of input");
    switch (*p_) {
      case '{': return Object(depth, nullptr);
      case '[': return Array(depth, nullptr);
      case '"': {
        std::string s;
        String(s);
        return json(std::move(s));
      }
      case 't': Literal("true"); return json(true);
      case 'f': Literal("false"); return json(false);
      case 'n': Literal("null"); return json(nullptr);
      default: return Number();
    }
  }

  // An object whose "id" member's text goes to `idText` when that is given.
  json Object(int depth, std::string* idText) {
    if (depth >= maxDepth_) {
      tooDeep_ = true;
      SkipContainer();
      return json::value_t::discarded;
    }
    ++p_;  // '{'
    json out = json::object();
    auto& members = out.get_ref<json::object_t&>();
    SkipSpace();
    if (p_ < end_ && *p_ == '}') {
      ++p_;
      return out;
    }
    for (;;) {
      SkipSpace();
      if (p_ == end_ || *p_ != '"') Fail("expected a string as object key");
      std::string key;
      String(key);
      Expect(':', "expected ':' after an object key");
      SkipSpace();
      const char* valueStart = p_;
      json value = Value(depth + 1);
      if (idText != nullptr && key == "id")
        *idText = value.is_discarded() ? std::string() : std::string(valueStart, p_);
      if (value.is_discarded()) {
        members.erase(key);
      } else {
        members.insert_or_assign(std::move(key), std::move(value));
      }
      SkipSpace();
      if (p_ == end_) Fail("unexpected end of input in an object");
      if (*p_ == '}') {
        ++p_;
        return out;
      }
      if (*p_ != ',') Fail("expected ',' or '}' in an object");
      ++p_;
    }
  }

  // An array whose elements' "id" texts go to `idTexts` when that is given.
  json Array(int depth, std::vector<std::string>* idTexts) {
    if (depth >= maxDepth_) {
      tooDeep_ = true;
      SkipContainer();
      return json::value_t::discarded;
    }
    if (depth >= packDepth_) {
      json packed;
      if (PackedInts(packed)) return packed;
    }
    ++p_;  // '['
    json out = json::array();
    auto& elements = out.get_ref<json::array_t&>();
    SkipSpace();
    if (p_ < end_ && *p_ == ']') {
      ++p_;
      return out;
    }
    for (;;) {
      SkipSpace();
      if (idTexts != nullptr) {
        idTexts->emplace_back();
        elements.push_back(p_ < end_ && *p_ == '{' ? Object(depth + 1, &idTexts->back()) : Value(depth + 1));
        if (elements.back().is_discarded()) idTexts->pop_back();
      } else {
        elements.push_back(Value(depth + 1));
      }
      if (elements.back().is_discarded()) elements.pop_back();
      SkipSpace();
      if (p_ == end_) Fail("unexpected end of input in an array");
      if (*p_ == ']') {
        ++p_;
        return out;
      }
      if (*p_ != ',') Fail("expected ',' or ']' in an array");
      ++p_;
    }
  }

  // Reads the array at p_ as packed 32-bit integers when it is one of at
  // least kPackedMinimum plain integers that fit; otherwise leaves p_ where
  // it was and returns false, for the general reading to take over.
  bool PackedInts(json& out) {
    const char* const start = p_;
    std::vector<int32_t> values;
    ++p_;  // '['
    for (;;) {
      SkipSpace();
      if (p_ == end_) break;
      const bool negative = *p_ == '-';
      if (negative) ++p_;
      const char* const digits = p_;
      int64_t magnitude = 0;
      while (p_ < end_ && IsDigit(*p_) && p_ - digits < 11) magnitude = magnitude * 10 + (*p_++ - '0');
      const size_t count = static_cast<size_t>(p_ - digits);
      if (count == 0 || count > 10 || (count > 1 && *digits == '0')) break;
      if (p_ < end_ && (*p_ == '.' || *p_ == 'e' || *p_ == 'E')) break;
      const int64_t value = negative ? -magnitude : magnitude;
      if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) break;
      values.push_back(static_cast<int32_t>(value));
      SkipSpace();
      if (p_ < end_ && *p_ == ',') {
        ++p_;
        continue;
      }
      if (p_ < end_ && *p_ == ']' && values.size() >= kPackedMinimum) {
        ++p_;
        std::vector<uint8_t> bytes(values.size() * sizeof(int32_t));
        std::memcpy(bytes.data(), values.data(), bytes.size());
        out = json::binary(std::move(bytes), kPackedInt32Subtype);
        return true;
      }
      break;
    }
    p_ = start;
    return false;
  }

  // Checks the syntax of the array or object at p_ without keeping it, with
  // a stack of its own instead of recursion.
  void SkipContainer() {
    std::vector<char> open;  // the closing bracket each level waits for
    for (;;) {
      SkipSpace();
      if (p_ == end_) Fail("unexpected end of input");
      const bool inObject = !open.empty() && open.back() == '}';
      // A value (with its key inside an object) comes next.
      if (inObject) {
        if (*p_ != '"') Fail("expected a string as object key");
        String(scratch_);
        Expect(':', "expected ':' after an object key");
        SkipSpace();
        if (p_ == end_) Fail("unexpected end of input");
      }
      if (*p_ == '{' || *p_ == '[') {
        open.push_back(*p_ == '{' ? '}' : ']');
        ++p_;
        SkipSpace();
        if (p_ < end_ && *p_ == open.back()) {
          ++p_;
          open.pop_back();
        } else {
          continue;
        }
      } else if (*p_ == '"') {
        String(scratch_);
      } else if (*p_ == 't' || *p_ == 'f' || *p_ == 'n') {
        Literal(*p_ == 't' ? "true" : *p_ == 'f' ? "false" : "null");
      } else {
        Number();
      }
      // After a value: a separator or the end of one or more levels.
      for (;;) {
        if (open.empty()) return;
        SkipSpace();
        if (p_ == end_) Fail("unexpected end of input");
        if (*p_ == ',') {
          ++p_;
          break;
        }
        if (*p_ != open.back()) Fail(open.back() == '}' ? "expected ',' or '}' in an object" : "expected ',' or ']' in an array");
        ++p_;
        open.pop_back();
      }
    }
  }

  void Literal(std::string_view word) {
    if (static_cast<size_t>(end_ - p_) < word.size() || std::string_view(p_, word.size()) != word)
      Fail("invalid literal");
    p_ += word.size();
  }

  // Reads the string at p_ (its opening quote) into `out`.
  void String(std::string& out) {
    out.clear();
    ++p_;
    for (;;) {
      const char* run = p_;
      while (p_ < end_ && *p_ != '"' && *p_ != '\\' && static_cast<unsigned char>(*p_) >= 0x20 &&
             static_cast<unsigned char>(*p_) < 0x80)
        ++p_;
      out.append(run, p_);
      if (p_ == end_) Fail("unexpected end of input in a string");
      const auto c = static_cast<unsigned char>(*p_);
      if (c == '"') {
        ++p_;
        return;
      }
      if (c < 0x20) Fail("control character inside a string must be escaped");
      if (c == '\\') {
        Escape(out);
      } else {
        MultiByte(out);
      }
    }
  }

  void Escape(std::string& out) {
    ++p_;
    if (p_ == end_) Fail("unexpected end of input in a string");
    const char c = *p_++;
    switch (c) {
      case '"': out.push_back('"'); return;
      case '\\': out.push_back('\\'); return;
      case '/': out.push_back('/'); return;
      case 'b': out.push_back('\b'); return;
      case 'f': out.push_back('\f'); return;
      case 'n': out.push_back('\n'); return;
      case 'r': out.push_back('\r'); return;
      case 't': out.push_back('\t'); return;
      case 'u': break;
      default: --p_; Fail("invalid escape in a string");
    }
    uint32_t cp = Hex4();
    if (cp >= 0xDC00 && cp <= 0xDFFF) Fail("a low surrogate without a high one");
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u') Fail("a high surrogate without a low one");
      p_ += 2;
      const uint32_t low = Hex4();
      if (low < 0xDC00 || low > 0xDFFF) Fail("a high surrogate without a low one");
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
    }
    AppendUtf8(out, cp);
  }

  uint32_t Hex4() {
    if (end_ - p_ < 4) Fail("\\u needs four hex digits");
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      const int h = HexValue(*p_);
      if (h < 0) Fail("\\u needs four hex digits");
      v = v * 16 + static_cast<uint32_t>(h);
      ++p_;
    }
    return v;
  }

  // One UTF-8 sequence of two to four bytes, checked as RFC 3629 says.
  void MultiByte(std::string& out) {
    const auto b0 = static_cast<unsigned char>(*p_);
    int more = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      more = 1;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      more = 2;
      if (b0 == 0xE0) lo = 0xA0;
      if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      more = 3;
      if (b0 == 0xF0) lo = 0x90;
      if (b0 == 0xF4) hi = 0x8F;
    } else {
      Fail("invalid UTF-8 in a string");
    }
    if (end_ - p_ <= more) Fail("invalid UTF-8 in a string");
    for (int i = 1; i <= more; ++i) {
      const auto b = static_cast<unsigned char>(p_[i]);
      if (b < (i == 1 ? lo : 0x80) || b > (i == 1 ? hi : 0xBF)) {
        p_ += i;
        Fail("invalid UTF-8 in a string");
      }
    }
    out.append(p_, p_ + more + 1);
    p_ += more + 1;
  }

  json Number() {
    const char* start = p_;
    const bool negative = *p_ == '-';
    if (negative) ++p_;
    if (p_ == end_ || !IsDigit(*p_)) Fail("invalid value");
    uint64_t magnitude = 0;
    bool overflow = false;
    if (*p_ == '0') {
      ++p_;
    } else {
      // Nineteen digits always fit 64 bits; only longer numbers need the check.
      const char* const digits = p_;
      while (p_ < end_ && IsDigit(*p_) && p_ - digits < 19) {
        magnitude = magnitude * 10 + static_cast<uint64_t>(*p_ - '0');
        ++p_;
      }
      while (p_ < end_ && IsDigit(*p_)) {
        const auto digit = static_cast<uint64_t>(*p_ - '0');
        if (magnitude > (std::numeric_limits<uint64_t>::max() - digit) / 10) overflow = true;
        magnitude = magnitude * 10 + digit;
        ++p_;
      }
    }
    bool integral = true;
    if (p_ < end_ && *p_ == '.') {
      ++p_;
      if (p_ == end_ || !IsDigit(*p_)) Fail("a fraction needs digits");
      while (p_ < end_ && IsDigit(*p_)) ++p_;
      integral = false;
    }
    if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
      ++p_;
      if (p_ < end_ && (*p_ == '+' || *p_ == '-')) ++p_;
      if (p_ == end_ || !IsDigit(*p_)) Fail("an exponent needs digits");
      while (p_ < end_ && IsDigit(*p_)) ++p_;
      integral = false;
    }
    if (integral && !overflow) {
      if (!negative) return json(magnitude);
      if (magnitude <= uint64_t{1} << 63) return json(static_cast<int64_t>(0 - magnitude));
    }
    // strtod needs the number on its own; it rounds as a double parser should.
    const std::string text(start, p_);
    const double d = std::strtod(text.c_str(), nullptr);
    if (!std::isfinite(d)) {
      p_ = start;
      Fail("number beyond the range of a double");
    }
    return json(d);
  }

  const char* begin_;
  const char* p_;
  const char* end_;
  int maxDepth_;
  bool tooDeep_ = false;
  int packDepth_ = 2;  // the depth from which integer lists may be packed
  std::string scratch_;
};

}  // namespace

ParsedLine ParseJsonLine(std::string_view line, int maxDepth) { return Reader(line, maxDepth).Read(); }

}  // namespace server
