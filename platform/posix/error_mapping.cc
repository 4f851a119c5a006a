#include "platform/posix/error_mapping.h"

#include <asio/error.hpp>
#include <cerrno>

#include "platform/pp_errors.h"

namespace posix {

namespace {
// The errno value behind `error`; 0 for errors of other kinds (name
// resolution, Asio's own). Asio reports kernel errors in a category of its
// own, which does not compare equal to the standard conditions.
int ErrnoOf(const std::error_code& error) {
  const std::error_category& category = error.category();
  if (category == asio::error::get_system_category() || category == std::system_category() ||
      category == std::generic_category()) {
    return error.value();
  }
  return 0;
}
}  // namespace

int32_t ToPPError(const std::error_code& error) {
  if (!error) return PP_OK;
  switch (ErrnoOf(error)) {
    case ECANCELED:
      return PP_ERROR_ABORTED;
    case ENETUNREACH:
    case EHOSTUNREACH:
      return PP_ERROR_ADDRESS_UNREACHABLE;
    case EACCES:
    case EPERM:
      return PP_ERROR_NOACCESS;
    case EADDRINUSE:
      return PP_ERROR_ADDRESS_IN_USE;
    case EADDRNOTAVAIL:
      return PP_ERROR_ADDRESS_INVALID;
    case EMSGSIZE:
      return PP_ERROR_MESSAGE_TOO_BIG;
    case ECONNREFUSED:
      return PP_ERROR_CONNECTION_REFUSED;
    default:
      return PP_ERROR_FAILED;
  }
}

bool IsLeftoverICMPError(const std::error_code& error) {
  const int value = ErrnoOf(error);
  return value == ECONNREFUSED || value == ENETUNREACH || value == EHOSTUNREACH;
}

bool IsTruncation(const std::error_code& error) {
  return ErrnoOf(error) == EMSGSIZE;
}

}  // namespace posix
