#include "host/page_json.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

#include <nlohmann/json.hpp>

namespace host {

namespace {

pp::Var FromJson(const nlohmann::json& json) {
  switch (json.type()) {
    case nlohmann::json::value_t::null:
      return pp::Var(pp::Var::Null());
    case nlohmann::json::value_t::boolean:
      return pp::Var(json.get<bool>());
    case nlohmann::json::value_t::number_integer: {
      const auto value = json.get<int64_t>();
      if (value >= std::numeric_limits<int32_t>::min() &&
          value <= std::numeric_limits<int32_t>::max()) {
        return pp::Var(static_cast<int32_t>(value));
      }
      return pp::Var(static_cast<double>(value));
    }
    case nlohmann::json::value_t::number_unsigned: {
      const auto value = json.get<uint64_t>();
      if (value <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
        return pp::Var(static_cast<int32_t>(value));
      }
      return pp::Var(static_cast<double>(value));
    }
    case nlohmann::json::value_t::number_float:
      return pp::Var(json.get<double>());
    case nlohmann::json::value_t::string:
      return pp::Var(json.get<std::string>());
    case nlohmann::json::value_t::array: {
      pp::VarArray array;
      for (const auto& element : json) array.Push(FromJson(element));
      return array;
    }
    case nlohmann::json::value_t::object: {
      pp::VarDictionary dictionary;
      for (const auto& [key, element] : json.items()) dictionary.Set(key, FromJson(element));
      return dictionary;
    }
    default:
      return pp::Var();
  }
}

// Length of the valid UTF-8 sequence starting at text[i], or 0 when the byte
// there does not start one.
size_t ValidUtf8Length(const std::string& text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  size_t length;
  uint32_t min_code;
  uint32_t code;
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, min_code = 0x80, code = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, min_code = 0x800, code = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, min_code = 0x10000, code = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  if (code < min_code || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

void AppendEscape(std::string& out, unsigned value) {
  static const char kHex[] = "0123456789abcdef";
  out += "\\u00";
  out += kHex[(value >> 4) & 0xF];
  out += kHex[value & 0xF];
}

void AppendString(std::string& out, const std::string& text) {
  out += '"';
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '"':
        out += "\\\"";
        ++i;
        continue;
      case '\\':
        out += "\\\\";
        ++i;
        continue;
      case '\n':
        out += "\\n";
        ++i;
        continue;
      case '\r':
        out += "\\r";
        ++i;
        continue;
      case '\t':
        out += "\\t";
        ++i;
        continue;
      default:
        break;
    }
    if (c < 0x20 || c == 0x7F) {
      AppendEscape(out, c);
      ++i;
      continue;
    }
    const size_t length = ValidUtf8Length(text, i);
    if (length == 0) {
      AppendEscape(out, c);  // a byte outside valid UTF-8
      ++i;
    } else {
      out.append(text, i, length);
      i += length;
    }
  }
  out += '"';
}

void AppendValue(std::string& out, const pp::Var& value) {
  switch (value.type()) {
    case pp::Var::Type::kUndefined:
    case pp::Var::Type::kNull:
      out += "null";
      return;
    case pp::Var::Type::kBool:
      out += value.AsBool() ? "true" : "false";
      return;
    case pp::Var::Type::kInt:
      out += std::to_string(value.AsInt());
      return;
    case pp::Var::Type::kDouble: {
      const double number = value.AsDouble();
      if (!std::isfinite(number)) {
        out += "null";
        return;
      }
      char buffer[32];
      const auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
      out.append(buffer, result.ptr);
      return;
    }
    case pp::Var::Type::kString:
      AppendString(out, value.AsString());
      return;
    case pp::Var::Type::kArray: {
      const pp::VarArray array(value);
      out += '[';
      for (uint32_t i = 0; i < array.GetLength(); ++i) {
        if (i) out += ',';
        AppendValue(out, array.Get(i));
      }
      out += ']';
      return;
    }
    case pp::Var::Type::kDictionary: {
      const pp::VarDictionary dictionary(value);
      const pp::VarArray keys = dictionary.GetKeys();
      out += '{';
      for (uint32_t i = 0; i < keys.GetLength(); ++i) {
        if (i) out += ',';
        const std::string key = keys.Get(i).AsString();
        AppendString(out, key);
        out += ':';
        AppendValue(out, dictionary.Get(key));
      }
      out += '}';
      return;
    }
  }
}

// The JSON parser takes a zero byte for the end of its input and accepts what
// comes before it; JSON text never holds one, so text that does is no JSON.
bool HoldsZeroByte(const std::string& text) {
  return text.find('\0') != std::string::npos;
}

}  // namespace

std::optional<pp::Var> ParsePageLine(const std::string& line, std::string* error) {
  if (HoldsZeroByte(line)) {
    if (error) *error = "not a JSON value";
    return std::nullopt;
  }
  // Turning a value into a page value, writing it and releasing it each take
  // one stack frame per level, so a line of deeply nested brackets would
  // overflow the stack. The parser itself is iterative: it tells us the depth
  // of each array and object as it starts, and nothing past the limit is built.
  bool too_deep = false;
  const nlohmann::json::parser_callback_t refuse_deep_nesting =
      [&too_deep](int enclosing, nlohmann::json::parse_event_t event, nlohmann::json&) {
        const bool starts_container = event == nlohmann::json::parse_event_t::object_start ||
                                      event == nlohmann::json::parse_event_t::array_start;
        if (starts_container && enclosing >= kMaxPageLineNesting) {
          too_deep = true;
          return false;  // the container and all it holds are skipped
        }
        return true;
      };
  nlohmann::json json =
      nlohmann::json::parse(line, refuse_deep_nesting, /*allow_exceptions=*/false);
  if (json.is_discarded()) {
    if (error) *error = "not a JSON value";
    return std::nullopt;
  }
  if (too_deep) {
    if (error) {
      *error = "arrays and objects nested deeper than " + std::to_string(kMaxPageLineNesting) +
               " levels";
    }
    return std::nullopt;
  }
  return FromJson(json);
}

std::string FormatPageValue(const pp::Var& value) {
  std::string out;
  AppendValue(out, value);
  return out;
}

std::optional<std::string> DecodePageString(const std::string& json_string) {
  if (HoldsZeroByte(json_string)) return std::nullopt;
  nlohmann::json json = nlohmann::json::parse(json_string, nullptr, false);
  if (json.is_discarded() || !json.is_string()) return std::nullopt;
  // The parser turns \u0080..\u00ff into two-byte UTF-8 (C2/C3 xx); those
  // escapes stand for single bytes, and no valid character is written that way.
  // Undo only what came from escapes: find them in the JSON text itself, that
  // is in the string between its quotes, without the white space around it.
  std::string out;
  const size_t open = json_string.find('"');
  const size_t close = json_string.rfind('"');
  const std::string text = json_string.substr(open, close + 1 - open);
  for (size_t i = 1; i + 1 < text.size();) {
    if (text[i] == '\\') {
      const char kind = text[i + 1];
      if (kind == 'u') {
        unsigned value = 0;
        const char* const digits = text.data() + i + 2;
        if (i + 6 > text.size() ||
            std::from_chars(digits, digits + 4, value, 16).ptr != digits + 4) {
          return std::nullopt;  // the parser lets no such escape through
        }
        if (value < 0x100) {
          out += static_cast<char>(value);
          i += 6;
          continue;
        }
        // Other \u escapes are not written by FormatPageValue; decode via the parser.
        return json.get<std::string>();
      }
      switch (kind) {
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        default:
          out += kind;
          break;  // " \ /
      }
      i += 2;
      continue;
    }
    out += text[i];
    ++i;
  }
  return out;
}

}  // namespace host
