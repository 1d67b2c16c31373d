#include "panel/live/minijson.h"

#include <cstring>
#include <limits>
#include <memory>
#include <tuple>
#include <utility>

namespace minijson {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// JSON white space: exactly these four bytes, nothing else.
bool is_json_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// White space as the C locale's isspace sees it, for int64_or.
bool is_c_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int hex_value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// True for the bytes a string holds as they stand: everything but the quote,
// the backslash and the control bytes. A table keeps the byte loop to one
// load and one test per byte. Built at compile time, so it is ready even for
// a parse run from another file's static initialiser.
struct PlainStringBytes {
  bool plain[256];
  constexpr PlainStringBytes() : plain() {
    for (int c = 0; c < 256; ++c) plain[c] = c >= 0x20 && c != '"' && c != '\\';
  }
};
constexpr PlainStringBytes kPlain;

// True if any of the eight bytes in `block` is a quote, a backslash or a
// control byte. Each test is exact about whether such a byte exists (not
// which one), so a clean block can be skipped whole.
bool has_special_byte(std::uint64_t block) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
  const std::uint64_t quote = block ^ (kOnes * '"');
  const std::uint64_t backslash = block ^ (kOnes * '\\');
  const std::uint64_t zero_in_quote = (quote - kOnes) & ~quote;
  const std::uint64_t zero_in_backslash = (backslash - kOnes) & ~backslash;
  const std::uint64_t below_space = (block - kOnes * 0x20) & ~block;
  return ((zero_in_quote | zero_in_backslash | below_space) & kHighBits) != 0;
}

// Appends one code point as standard UTF-8. Code points come from \u escapes,
// so they never exceed 0x10FFFF.
void append_utf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    const char bytes[2] = {static_cast<char>(0xC0 | cp >> 6),
                           static_cast<char>(0x80 | (cp & 0x3F))};
    out.append(bytes, 2);
  } else if (cp <= 0xFFFF) {
    const char bytes[3] = {static_cast<char>(0xE0 | cp >> 12),
                           static_cast<char>(0x80 | (cp >> 6 & 0x3F)),
                           static_cast<char>(0x80 | (cp & 0x3F))};
    out.append(bytes, 3);
  } else {
    const char bytes[4] = {
        static_cast<char>(0xF0 | cp >> 18), static_cast<char>(0x80 | (cp >> 12 & 0x3F)),
        static_cast<char>(0x80 | (cp >> 6 & 0x3F)), static_cast<char>(0x80 | (cp & 0x3F))};
    out.append(bytes, 4);
  }
}

// Elements of the arrays being read wait here until their array closes, so
// that each array's storage is allocated once, at its exact size. Growing the
// vector by doubling instead moves the elements repeatedly and, with glibc,
// makes allocations of a kilobyte and more in the middle of a parse, each of
// which merges the small free chunks that the rest of the parse would have
// reused (measured: about a sixth of the time to read a 50-comment batch).
// Slots never move, so an element is read in place while the arrays nested
// in it take the slots above it: they are used as a stack. Blocks stay below
// one kilobyte; the first one lives inside the object.
class PendingElements {
 public:
  PendingElements() = default;
  PendingElements(const PendingElements&) = delete;
  PendingElements& operator=(const PendingElements&) = delete;

  std::size_t size() const { return size_; }

  // A default value on top of the stack. Its address stays valid until it
  // is popped.
  Value& push() {
    if (size_ >= kBlock && size_ == (blocks_.size() + 1) * kBlock) {
      blocks_.push_back(std::unique_ptr<Value[]>(new Value[kBlock]));
    }
    return slot(size_++);
  }

  // Moves the slots from `base` to the top into `items` (allocated once,
  // exactly) and pops them, leaving them default for reuse.
  void pop_into(std::size_t base, std::vector<Value>& items) {
    items.reserve(items.size() + (size_ - base));
    for (std::size_t i = base; i < size_; ++i) {
      Value& element = slot(i);
      items.push_back(std::move(element));
      element = Value();
    }
    size_ = base;
  }

 private:
  static constexpr std::size_t kBlock = 8;

  Value& slot(std::size_t i) {
    return i < kBlock ? first_[i] : blocks_[i / kBlock - 1][i % kBlock];
  }

  Value first_[kBlock];
  std::vector<std::unique_ptr<Value[]>> blocks_;
  std::size_t size_ = 0;
};

// Strict recursive-descent reader over one text, one per parse() call on the
// calling thread's stack (nothing is shared between calls or threads). Every
// read_* returns true on success; on failure it returns false after fail()
// stored the message, and `pos` is left at the byte the message refers to.
// Values are parsed in place (an object's member straight into its map entry,
// an array's element into a pending slot that is moved once into the finished
// array); nothing is copied. Recursion is one level per open array or object,
// capped at kMaxDepth.
class Parser {
 public:
  explicit Parser(const std::string& text) : input(text), data_(text.data()), size_(text.size()) {}

  bool parse_whole(Value& out) {
    pos = 0;
    error = "parse error";
    skip_ws();
    if (!read_value(out)) return false;
    skip_ws();
    if (pos == size_) return true;
    return fail("unexpected trailing characters");
  }

  bool read_value(Value& out);
  bool read_string(std::string& out);
  bool read_literal(const char* word, Value::Type type, Value& out, bool truth);
  bool read_hex4(std::uint32_t& unit);

  const std::string& input;
  std::size_t pos = 0;
  std::string error = "parse error";

 private:
  bool read_number(Value& out);
  bool read_array(Value& out);
  bool read_object(Value& out);
  bool read_unicode_escape(std::string& out);
  // If the string at `pos` holds no escape or control byte, moves past it
  // and gives its content's place in the input; otherwise returns false
  // and leaves `pos` alone (read_string then decodes or reports it).
  bool read_plain_string(std::size_t& start, std::size_t& size);

  void skip_ws() {
    while (pos < size_ && is_json_space(data_[pos])) ++pos;
  }
  bool at(char c) const { return pos < size_ && data_[pos] == c; }
  // Moves past the bytes a string holds as they stand, up to the next
  // quote, backslash or control byte (or the end), eight at a time where
  // possible: comment texts are long runs of such bytes.
  void skip_plain_bytes() {
    while (size_ - pos >= 8) {
      std::uint64_t block;
      std::memcpy(&block, data_ + pos, 8);
      if (has_special_byte(block)) break;
      pos += 8;
    }
    while (pos < size_ && kPlain.plain[static_cast<unsigned char>(data_[pos])]) ++pos;
  }
  bool fail(const char* message) {
    error = message;
    return false;
  }

  const char* data_;
  std::size_t size_;
  std::size_t depth_ = 0;    // arrays and objects currently open
  PendingElements pending_;  // elements of the open arrays
};

bool Parser::read_value(Value& out) {
  skip_ws();
  if (pos >= size_) return fail("expected value");
  switch (data_[pos]) {
    case '"':
      out.type = Value::Type::String;
      return read_string(out.text);
    case '-':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
      return read_number(out);
    case 't':
      return read_literal("true", Value::Type::Bool, out, true);
    case 'f':
      return read_literal("false", Value::Type::Bool, out, false);
    case 'n':
      return read_literal("null", Value::Type::Null, out, false);
    case '[':
      return read_array(out);
    case '{':
      return read_object(out);
    default:
      return fail("invalid value");
  }
}

bool Parser::read_literal(const char* word, Value::Type type, Value& out, bool truth) {
  const std::size_t length = std::strlen(word);
  if (size_ - pos < length || std::memcmp(data_ + pos, word, length) != 0) {
    return fail("invalid literal");
  }
  pos += length;
  out.type = type;
  out.boolean = truth;
  return true;
}

bool Parser::read_number(Value& out) {
  const std::size_t start = pos;
  if (data_[pos] == '-') {
    ++pos;
    if (pos >= size_) return fail("invalid number");
  }
  if (data_[pos] == '0') {
    ++pos;
    if (pos < size_ && is_digit(data_[pos])) return fail("leading zero in number");
  } else if (is_digit(data_[pos])) {
    while (pos < size_ && is_digit(data_[pos])) ++pos;
  } else {
    return fail("invalid number");
  }
  if (at('.')) {
    ++pos;
    if (pos >= size_ || !is_digit(data_[pos])) return fail("invalid fraction");
    while (pos < size_ && is_digit(data_[pos])) ++pos;
  }
  if (at('e') || at('E')) {
    ++pos;
    if (at('+') || at('-')) ++pos;
    if (pos >= size_ || !is_digit(data_[pos])) return fail("invalid exponent");
    while (pos < size_ && is_digit(data_[pos])) ++pos;
  }
  out.type = Value::Type::Number;
  out.text = std::string(data_ + start, pos - start);
  return true;
}

bool Parser::read_plain_string(std::size_t& start, std::size_t& size) {
  if (!at('"')) return false;
  const std::size_t quote = pos;
  ++pos;
  start = pos;
  skip_plain_bytes();
  if (at('"')) {
    size = pos - start;
    ++pos;
    return true;
  }
  pos = quote;
  return false;
}

bool Parser::read_string(std::string& out) {
  std::size_t start = 0;
  std::size_t size = 0;
  if (read_plain_string(start, size)) {
    // The common case: built with one copy (and at most one allocation)
    // instead of appended.
    out = std::string(data_ + start, size);
    return true;
  }
  if (!at('"')) return fail("expected string");
  ++pos;
  std::size_t run = pos;
  skip_plain_bytes();
  out.clear();
  for (;;) {
    if (pos != run) out.append(data_ + run, pos - run);
    if (pos >= size_) return fail("unterminated string");

    const char c = data_[pos++];
    if (c == '"') return true;
    if (c != '\\') return fail("control character in string");

    if (pos >= size_) return fail("unfinished escape");
    switch (data_[pos++]) {
      case '"':
        out.push_back('"');
        break;
      case '\\':
        out.push_back('\\');
        break;
      case '/':
        out.push_back('/');
        break;
      case 'b':
        out.push_back('\b');
        break;
      case 'f':
        out.push_back('\f');
        break;
      case 'n':
        out.push_back('\n');
        break;
      case 'r':
        out.push_back('\r');
        break;
      case 't':
        out.push_back('\t');
        break;
      case 'u':
        if (!read_unicode_escape(out)) return false;
        break;
      default:
        return fail("invalid escape");
    }
    run = pos;
    skip_plain_bytes();
  }
}

bool Parser::read_hex4(std::uint32_t& unit) {
  if (size_ - pos < 4) return fail("incomplete unicode escape");
  unit = 0;
  for (int i = 0; i < 4; ++i) {
    const int digit = hex_value(static_cast<unsigned char>(data_[pos++]));
    if (digit < 0) return fail("invalid unicode escape");
    unit = unit << 4 | static_cast<std::uint32_t>(digit);
  }
  return true;
}

// After "\u": one unit, or a surrogate pair written as two escapes.
bool Parser::read_unicode_escape(std::string& out) {
  std::uint32_t unit = 0;
  if (!read_hex4(unit)) return false;
  if (unit >= 0xDC00 && unit <= 0xDFFF) return fail("unexpected low surrogate");
  std::uint32_t cp = unit;
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    if (size_ - pos < 2 || data_[pos] != '\\' || data_[pos + 1] != 'u') {
      return fail("missing low surrogate");
    }
    pos += 2;
    std::uint32_t low = 0;
    if (!read_hex4(low) || low < 0xDC00 || low > 0xDFFF) {
      return fail("invalid low surrogate");
    }
    cp = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
  }
  append_utf8(out, cp);
  return true;
}

bool Parser::read_array(Value& out) {
  if (depth_ == kMaxDepth) return fail("nesting deeper than 512 levels");
  ++depth_;
  ++pos;
  out.type = Value::Type::Array;
  skip_ws();
  if (at(']')) {
    ++pos;
    --depth_;
    return true;
  }
  const std::size_t base = pending_.size();
  for (;;) {
    if (!read_value(pending_.push())) return false;
    skip_ws();
    if (at(']')) {
      ++pos;
      --depth_;
      pending_.pop_into(base, out.items);
      return true;
    }
    if (!at(',')) return fail("expected ',' or ']'");
    ++pos;
    skip_ws();
  }
}

bool Parser::read_object(Value& out) {
  if (depth_ == kMaxDepth) return fail("nesting deeper than 512 levels");
  ++depth_;
  ++pos;
  out.type = Value::Type::Object;
  skip_ws();
  if (at('}')) {
    ++pos;
    --depth_;
    return true;
  }
  for (;;) {
    // A key without escapes goes from the input straight into its map
    // node; only a key with escapes is decoded into `decoded` first.
    std::size_t key_start = 0;
    std::size_t key_size = 0;
    std::string decoded;
    const bool plain = read_plain_string(key_start, key_size);
    if (!plain && !read_string(decoded)) return false;
    skip_ws();
    if (!at(':')) return fail("expected ':'");
    ++pos;
    // The node is built first and then placed with a single search of
    // the tree (the key-first forms search, then check their hint again).
    auto slot = plain ? out.members.emplace(std::piecewise_construct,
                                            std::forward_as_tuple(data_ + key_start, key_size),
                                            std::forward_as_tuple())
                      : out.members.emplace(std::piecewise_construct,
                                            std::forward_as_tuple(std::move(decoded)),
                                            std::forward_as_tuple());
    // A repeated key: the later value replaces the earlier one entirely.
    if (!slot.second) slot.first->second = Value();
    if (!read_value(slot.first->second)) return false;
    skip_ws();
    if (at('}')) {
      ++pos;
      --depth_;
      return true;
    }
    if (!at(',')) return fail("expected ',' or '}'");
    ++pos;
    skip_ws();
  }
}

}  // namespace

Value::Value(Value&& other) noexcept
    : type(other.type),
      boolean(other.boolean),
      text(std::move(other.text)),
      items(std::move(other.items)),
      members(std::move(other.members)) {}

Value& Value::operator=(Value&& other) noexcept {
  type = other.type;
  boolean = other.boolean;
  text = std::move(other.text);
  items = std::move(other.items);
  members = std::move(other.members);
  return *this;
}

const Value* Value::get(const std::string& key) const {
  if (type != Type::Object) return nullptr;
  const auto it = members.find(key);
  return it == members.end() ? nullptr : &it->second;
}

std::string Value::string_or(const std::string& fallback) const {
  if (type == Type::String || type == Type::Number) return text;
  return fallback;
}

std::int64_t Value::int64_or(std::int64_t fallback) const {
  if (type != Type::String && type != Type::Number) return fallback;
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p != end && is_c_space(*p)) ++p;
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  if (p == end || !is_digit(*p)) return fallback;
  // Magnitude limits of int64: 2^63 - 1 upwards, 2^63 downwards.
  const std::uint64_t limit = negative ? 9223372036854775808ULL : 9223372036854775807ULL;
  std::uint64_t magnitude = 0;
  for (; p != end && is_digit(*p); ++p) {
    const auto digit = static_cast<std::uint64_t>(*p - '0');
    if (magnitude > (limit - digit) / 10) return fallback;
    magnitude = magnitude * 10 + digit;
  }
  if (p != end) return fallback;
  if (!negative) return static_cast<std::int64_t>(magnitude);
  if (magnitude == 9223372036854775808ULL) return std::numeric_limits<std::int64_t>::min();
  return -static_cast<std::int64_t>(magnitude);
}

bool parse(const std::string& text, Value& out, std::string& error) {
  out = Value();
  Parser parser(text);
  if (parser.parse_whole(out)) return true;
  error = parser.error;
  error += " at byte ";
  error += std::to_string(parser.pos);
  return false;
}

std::string escape_string(const std::string& raw) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(raw.size() + 2);
  const char* const data = raw.data();
  const std::size_t size = raw.size();
  std::size_t run = 0;  // start of the bytes not yet written
  for (std::size_t i = 0; i < size; ++i) {
    const auto c = static_cast<unsigned char>(data[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(data + run, i - run);
    run = i + 1;
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default: {
        const char unit[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0x0F]};
        out.append(unit, 6);
      }
    }
  }
  out.append(data + run, size - run);
  return out;
}

}  // namespace minijson
