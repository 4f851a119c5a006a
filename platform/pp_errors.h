// Result codes shared by every platform operation. Asynchronous calls return
// PP_OK_COMPLETIONPENDING and later complete with PP_OK, a byte count or one of
// the negative PP_ERROR_* codes.
#pragma once

#include <cstdint>

constexpr int32_t PP_OK = 0;
constexpr int32_t PP_OK_COMPLETIONPENDING = -1;
constexpr int32_t PP_ERROR_FAILED = -2;
constexpr int32_t PP_ERROR_ABORTED = -3;
constexpr int32_t PP_ERROR_BADARGUMENT = -4;
constexpr int32_t PP_ERROR_BADRESOURCE = -5;
constexpr int32_t PP_ERROR_NOACCESS = -7;
constexpr int32_t PP_ERROR_NOMEMORY = -8;
constexpr int32_t PP_ERROR_INPROGRESS = -11;
constexpr int32_t PP_ERROR_NOTSUPPORTED = -12;
constexpr int32_t PP_ERROR_NO_MESSAGE_LOOP = -51;
constexpr int32_t PP_ERROR_WRONG_THREAD = -52;
constexpr int32_t PP_ERROR_CONNECTION_REFUSED = -102;
constexpr int32_t PP_ERROR_ADDRESS_INVALID = -105;
constexpr int32_t PP_ERROR_ADDRESS_UNREACHABLE = -107;
constexpr int32_t PP_ERROR_ADDRESS_IN_USE = -108;
constexpr int32_t PP_ERROR_MESSAGE_TOO_BIG = -109;
constexpr int32_t PP_ERROR_NAME_NOT_RESOLVED = -110;

namespace pp {
// A short name for a result code ("PP_OK", "PP_ERROR_FAILED", ...) for traces and tests.
const char* ResultName(int32_t result);
}  // namespace pp
