// Any bytes from the network shown as one line of text that is safe on a
// terminal: what arrives can neither break the line nor send control sequences.
//
// Printable ASCII stays as it is, except the backslash, which is doubled. A
// valid UTF-8 sequence of a printable character (not a C1 control, U+0080 to
// U+009F) stays as it is. Every other byte, control bytes, zero bytes, bytes of
// broken UTF-8 and DEL included, becomes \xHH with two upper-case hex digits.
// So the exact bytes can always be recovered from the line.
#pragma once

#include <string>
#include <string_view>

namespace tool_io {

std::string EscapeForLine(std::string_view bytes);

}  // namespace tool_io
