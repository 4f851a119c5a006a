// Standard input of the embedder programs: every line is a page message in
// JSON, and every value the module posts goes back out as one JSON line.
//
// Each line of the input is read as the programs read it (ParsePageLine); a
// value that parses must come out of FormatPageValue as one line of valid JSON
// that reads back as the same JSON. The whole input, as a string value, must
// survive FormatPageValue and DecodePageString byte for byte.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "fuzz/fuzz_check.h"
#include "host/page_json.h"
#include "platform/var.h"

namespace {

void CheckLine(const std::string& line) {
  std::string error;
  const std::optional<pp::Var> value = host::ParsePageLine(line, &error);
  if (!value) {
    FUZZ_CHECK(!error.empty(), "a refused line has a reason");
    FUZZ_CHECK(error.find('\n') == std::string::npos, "the reason is one line");
    return;
  }
  const std::string out = host::FormatPageValue(*value);
  FUZZ_CHECK(out.find('\n') == std::string::npos && out.find('\r') == std::string::npos,
             "a posted value is one line");
  const nlohmann::json json = nlohmann::json::parse(out, nullptr, false);
  FUZZ_CHECK(!json.is_discarded(), "a posted value is valid JSON");

  // Read back as a page message and written again: the same JSON.
  const std::optional<pp::Var> again = host::ParsePageLine(out, &error);
  FUZZ_CHECK(again.has_value(), "a posted line reads back");
  const nlohmann::json json_again =
      nlohmann::json::parse(host::FormatPageValue(*again), nullptr, false);
  FUZZ_CHECK(json_again == json, "writing what was read back gives the same JSON");

  if (value->is_string()) {
    const std::optional<std::string> bytes = host::DecodePageString(out);
    FUZZ_CHECK(bytes && *bytes == value->AsString(), "a string line decodes to its bytes");
  }
}

void CheckStringRoundTrip(const std::string& bytes) {
  const std::string out = host::FormatPageValue(pp::Var(bytes));
  FUZZ_CHECK(out.find('\n') == std::string::npos && out.find('\r') == std::string::npos,
             "a string is written as one line");
  FUZZ_CHECK(!nlohmann::json::parse(out, nullptr, false).is_discarded(), "as valid JSON");
  const std::optional<std::string> decoded = host::DecodePageString(out);
  FUZZ_CHECK(decoded.has_value() && *decoded == bytes, "and decodes to the same bytes");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  size_t start = 0;
  while (start <= input.size()) {
    size_t end = input.find('\n', start);
    if (end == std::string::npos) end = input.size();
    CheckLine(input.substr(start, end - start));
    start = end + 1;
  }
  CheckStringRoundTrip(input);
  // Anything may arrive where a string line is expected; only no crash is asked.
  host::DecodePageString(input);
  return 0;
}
