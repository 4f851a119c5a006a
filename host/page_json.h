// The stdio page channel's encoding: one JSON value per line in each direction.
//
// In: a JSON object becomes a dictionary, a string a string value, numbers,
// booleans, null and arrays the matching values (an integer within 32 bits an
// int value, any other number a double).
//
// Out: dictionaries become JSON objects (keys in sorted order), strings JSON
// strings, and so on; undefined becomes null. Strings are written as UTF-8. A
// byte that is not part of valid UTF-8 is written as the escape \u0080 to
// \u00ff carrying its value: valid characters are never escaped that way, so a
// reader that knows the rule recovers the exact bytes, and a plain JSON reader
// sees the byte as the Latin-1 character of the same number.
#pragma once

#include <optional>
#include <string>

#include "platform/var.h"

namespace host {

// Arrays and objects nest at most this deep in an input line; page messages
// are flat dictionaries, and a deeper line is refused like one that is not JSON.
constexpr int kMaxPageLineNesting = 64;

// The value of one input line, or nothing with a one-line reason in `error`.
std::optional<pp::Var> ParsePageLine(const std::string& line, std::string* error);

// One output line (without the newline) for a value the module posted.
std::string FormatPageValue(const pp::Var& value);

// The exact bytes of a string written by FormatPageValue, decoded from its JSON
// form by the rule above; nothing when `json_string` is not a JSON string.
std::optional<std::string> DecodePageString(const std::string& json_string);

}  // namespace host
