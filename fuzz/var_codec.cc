#include "fuzz/var_codec.h"

#include <cstdint>
#include <cstring>

namespace fuzz {

const char* const kWords[] = {
    "key",
    "value",
    "SET_TOTAL_PLAYTIME",
    "STOP_CLOCK",
    "CREATE_RECEIVER",
    "CREATE_SENDER",
    "BROADCAST_PLAYTIME",
    "SET_PORT",
    "SET_PLAYTIME",
    "SET_SYNC_ID",
    "START_CLOCK_WITH_SYNC_ID",
    "SET_TOTAL_SCHEDULE_PLAYTIME",
    "CLOSE_RECEIVER",
    "PLAYER_TIMESTAMP_INFO",
    "START_MONITORING",
    "DEBUGGER",
    "SET_DEVICEIP",
    "SET_ADJUST_DURATION",
    "EVENT_TYPE",
    "SET_SEND_PORT",
    "MOVE_PAGE_TO",
    "SET_SCHEDULE_START_CLOCK",
    "SET_ELAPSED_PAGES_PLAYTIME",
    "",
    "0",
    "7",
    "-1",
    "47475",
    "55555",
    "192.168.0.23",
    "127.0.0.1",
    "65535.65535.65535.65535",
    "4294967295",
    "2147483648",
    "9223372036854775807",
    "-9223372036854775808",
    "99999999999999999999",
    "%s%n%d%%",
};
const size_t kWordCount = sizeof kWords / sizeof kWords[0];

namespace {

constexpr uint8_t kWordFlag = 0x80;
constexpr uint8_t kLongLength = 0x7f;

enum Kind : uint8_t {
  kUndefined = 0,
  kNull = 1,
  kBool = 2,
  kInt = 3,
  kDouble = 4,
  kString = 5,
  kDictionary = 6,
  kArray = 7,
};

size_t EntryCount(uint8_t tag, int depth) {
  if (depth >= kMaxDepth) return 0;
  const size_t count = tag >> 3;
  return count < kMaxEntries ? count : kMaxEntries;
}

void EncodeStringBody(const std::string& text, std::string& out) {
  const size_t length = text.size() < 0xFFFF ? text.size() : 0xFFFF;
  if (length < kLongLength) {
    out += static_cast<char>(length);
  } else {
    out += static_cast<char>(kLongLength);
    out += static_cast<char>(length & 0xFF);
    out += static_cast<char>(length >> 8);
  }
  out.append(text, 0, length);
}

}  // namespace

std::string DecodeStringBody(ByteReader& in) {
  const uint8_t s = in.Byte();
  if (s & kWordFlag) return kWords[(s & 0x7f) % kWordCount];
  const size_t length = s == kLongLength ? in.Integer<uint16_t>() : s;
  return in.Bytes(length);
}

pp::Var DecodeVar(ByteReader& in, int depth) {
  const uint8_t tag = in.Byte();
  switch (tag & 7) {
    case kUndefined:
      return pp::Var();
    case kNull:
      return pp::Var(pp::Var::Null());
    case kBool:
      return pp::Var(((tag >> 3) & 1) != 0);
    case kInt:
      return pp::Var(in.Integer<int32_t>());
    case kDouble:
      return pp::Var(in.Integer<double>());
    case kString:
      return pp::Var(DecodeStringBody(in));
    case kDictionary: {
      pp::VarDictionary dictionary;
      for (size_t i = EntryCount(tag, depth); i > 0; --i) {
        const std::string key = DecodeStringBody(in);
        dictionary.Set(key, DecodeVar(in, depth + 1));
      }
      return dictionary;
    }
    default: {
      pp::VarArray array;
      for (size_t i = EntryCount(tag, depth); i > 0; --i) array.Push(DecodeVar(in, depth + 1));
      return array;
    }
  }
}

void EncodeVar(const pp::Var& value, std::string& out) {
  const auto tag = [&](uint8_t kind, size_t high = 0) {
    out += static_cast<char>(kind | (high << 3));
  };
  switch (value.type()) {
    case pp::Var::Type::kUndefined:
      tag(kUndefined);
      return;
    case pp::Var::Type::kNull:
      tag(kNull);
      return;
    case pp::Var::Type::kBool:
      tag(kBool, value.AsBool() ? 1 : 0);
      return;
    case pp::Var::Type::kInt: {
      tag(kInt);
      const int32_t number = value.AsInt();
      char bytes[sizeof number];
      std::memcpy(bytes, &number, sizeof number);
      out.append(bytes, sizeof bytes);
      return;
    }
    case pp::Var::Type::kDouble: {
      tag(kDouble);
      const double number = value.AsDouble();
      char bytes[sizeof number];
      std::memcpy(bytes, &number, sizeof number);
      out.append(bytes, sizeof bytes);
      return;
    }
    case pp::Var::Type::kString:
      tag(kString);
      EncodeStringBody(value.AsString(), out);
      return;
    case pp::Var::Type::kDictionary: {
      const pp::VarDictionary dictionary(value);
      const pp::VarArray keys = dictionary.GetKeys();
      const size_t count = keys.GetLength() < kMaxEntries ? keys.GetLength() : kMaxEntries;
      tag(kDictionary, count);
      for (uint32_t i = 0; i < count; ++i) {
        const std::string key = keys.Get(i).AsString();
        EncodeStringBody(key, out);
        EncodeVar(dictionary.Get(key), out);
      }
      return;
    }
    case pp::Var::Type::kArray: {
      const pp::VarArray array(value);
      const size_t count = array.GetLength() < kMaxEntries ? array.GetLength() : kMaxEntries;
      tag(kArray, count);
      for (uint32_t i = 0; i < count; ++i) EncodeVar(array.Get(i), out);
      return;
    }
  }
}

}  // namespace fuzz
