#pragma once
// Reads one input line as JSON (RFC 8259, strict) into a document, in one pass
// over the bytes and without recursion below the nesting limit.
//
// What a caller may rely on:
//   - Anything that is not exactly one JSON text is refused with
//     JsonSyntaxError: a NUL or other control byte outside a string, raw
//     control bytes or invalid UTF-8 inside a string, a lone surrogate escape,
//     trailing bytes after the value, a number beyond the range of a double.
//     A UTF-8 byte order mark before the value is skipped.
//   - Arrays and objects at depth `maxDepth` or deeper (the outermost value
//     is at depth 0) are checked for syntax like everything else but left out
//     of the document, as members or elements; TooDeep tells that this
//     happened. Reading them takes no stack space per level. Syntax errors win
//     over depth: a line that is both too deep and not JSON is refused.
//   - Integers keep their exact value: non-negative ones that fit 64 bits
//     unsigned are unsigned numbers, negative ones that fit 64 bits signed are
//     signed numbers, anything else (fractions, exponents, larger integers)
//     is a double.
//   - An array inside a request's params (depth 2 or deeper in a line of one
//     value, depth 3 or deeper in a batch) that holds
//     kPackedMinimum or more integers, each of 32 bits, written plainly
//     (no fraction or exponent), is kept packed: a binary value of subtype
//     kPackedInt32Subtype whose bytes are the values as native int32_t, in
//     order. Params::Int32List reads it; nothing else needs to. Any other
//     array is an array of values.
//   - Duplicate object keys: the last value wins.
//   - IdTexts holds the exact source text of the "id" member of each request
//     object: one entry when the line is one value, one per element when it
//     is an array (a batch). An entry is empty when that value is no object,
//     has no "id", or its "id" was too deeply nested to keep.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace server {

constexpr size_t kPackedMinimum = 1024;
constexpr uint8_t kPackedInt32Subtype = 32;

class JsonSyntaxError final : public std::runtime_error {
 public:
  // `offset`: the 0-based byte of the line where reading failed.
  JsonSyntaxError(const std::string& what, size_t offset);
  size_t Offset() const { return offset_; }

 private:
  size_t offset_;
};

struct ParsedLine {
  nlohmann::json Doc;
  bool TooDeep = false;
  std::vector<std::string> IdTexts;
};

ParsedLine ParseJsonLine(std::string_view line, int maxDepth);

}  // namespace server
