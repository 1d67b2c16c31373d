#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The panel's own small JSON module: a value model, a strict reader and a
// string escaper for writing. Works on UTF-8 bytes in std::string throughout.
// Numbers are kept as the exact characters of the input and converted only on
// request, so reading never overflows or rounds.
namespace minijson {

// A JSON value. All alternatives sit side by side; only the one named by
// `type` is meaningful and the others stay empty. A value owns its elements
// and members.
struct Value {
  enum class Type : std::int32_t {
    Null = 0,
    Bool = 1,
    Number = 2,
    String = 3,
    Array = 4,
    Object = 5,
  };

  Type type = Type::Null;
  bool boolean = false;  // a Bool's truth value; false for every other kind
  // A String's decoded UTF-8 content, or a Number's characters exactly as
  // written (sign, digits, fraction, exponent); empty otherwise.
  std::string text;
  std::vector<Value> items;  // an Array's elements in document order
  // An Object's members in ascending byte order of their keys; a repeated
  // key keeps only its last value.
  std::map<std::string, Value> members;

  // User-provided on purpose: a defaulted constructor would make every
  // value-initialisation (Value(), emplace_back()) zero the whole object
  // before constructing its members.
  Value() {}
  Value(const Value&) = default;
  Value& operator=(const Value&) = default;
  // Moves never throw, so containers of values move them instead of copying.
  Value(Value&& other) noexcept;
  Value& operator=(Value&& other) noexcept;
  ~Value() = default;

  // The member stored under exactly `key` if this is an Object, else null.
  // The pointer lives as long as this value is not modified.
  const Value* get(const std::string& key) const;

  // For a String or a Number a copy of `text` (a number yields its source
  // characters, such as "1.5e3"); for every other kind a copy of `fallback`.
  std::string string_or(const std::string& fallback) const;

  // For a String or a Number, `text` read as a signed base-10 integer the way
  // strtoll does in the C locale (leading white space and one sign allowed),
  // provided at least one digit was read, the whole text was consumed and
  // the value fits in 64 bits; `fallback` in every other case.
  std::int64_t int64_or(std::int64_t fallback) const;
};

// How many arrays and objects may enclose one another. Deeper input fails the
// parse rather than exhausting the stack.
constexpr std::size_t kMaxDepth = 512;

// Parses the whole of `text` into `out`, which should be a default value.
// Returns true on success and leaves `error` untouched. On failure returns
// false and sets `error` to a short English message followed by " at byte "
// and the decimal byte position (counted from 0); `out` is then unspecified.
// Throws nothing of its own (only std::bad_alloc can escape). Safe on any
// thread: it touches only its arguments.
bool parse(const std::string& text, Value& out, std::string& error);

// The body of a JSON string literal for `raw`, without the quotes: `"` and `\`
// escaped, \b \f \n \r \t for those controls, \u00xx (lower-case hex) for the
// other bytes below 0x20, every other byte (UTF-8 included) unchanged.
std::string escape_string(const std::string& raw);

}  // namespace minijson
