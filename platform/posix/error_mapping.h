// How kernel and Asio errors read as the platform's result codes.
#pragma once

#include <cstdint>
#include <system_error>

namespace posix {

// PP_OK for no error; otherwise the PP_ERROR_* code that names the failure
// best, PP_ERROR_FAILED when none does.
int32_t ToPPError(const std::error_code& error);

// Errors that a kernel leaves on a UDP socket after an ICMP message about an
// earlier send (port or host unreachable). They say nothing about the receive
// that reports them, so a receive goes on waiting instead of failing.
bool IsLeftoverICMPError(const std::error_code& error);

// Where a kernel reports a datagram longer than the buffer as an error.
bool IsTruncation(const std::error_code& error);

}  // namespace posix
