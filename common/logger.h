// The one diagnostic channel of both modules: every log line is posted to the
// page as a plain text value, "<prefix><message>", with no newline added.
//
// Formatted lines are cut at 255 bytes, prefix included; the string forms post
// the whole text unchanged. Debug and Warn obey the debug switch (on by default).
#pragma once

#include <atomic>
#include <cstdarg>
#include <shared_mutex>
#include <string>

#include "platform/instance.h"

#define LOGGER_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))

constexpr char kLogPrefix[] = "[LOG]: ";
constexpr char kDebugPrefix[] = "[DEV]: ";
constexpr char kErrorPrefix[] = "[ERR]: ";
constexpr char kWarnPrefix[] = "[WARN]: ";

class Logger {
 public:
  Logger() = delete;

  // Remembers `instance` as the carrier of all later lines, unless one is
  // remembered already.
  static void InitializeInstance(pp::Instance* instance);
  // Called when `instance` is destroyed: if it is the remembered carrier, later
  // lines are dropped (as before initialisation) until another instance is remembered.
  static void ForgetInstance(pp::Instance* instance);
  static void EnableDebugLogs(bool enable);

  static void Log(const char* format, ...) LOGGER_PRINTF_FORMAT(1, 2);
  static void Error(const char* format, ...) LOGGER_PRINTF_FORMAT(1, 2);
  static void Debug(const char* format, ...) LOGGER_PRINTF_FORMAT(1, 2);
  static void Warn(const char* format, ...) LOGGER_PRINTF_FORMAT(1, 2);
  // Text that is not a format: posted whole, per cent signs and all.
  static void Log(const std::string& text);
  static void Error(const std::string& text);

 private:
  static void InternalPrint(const char* prefix, const char* format, va_list arguments)
      LOGGER_PRINTF_FORMAT(2, 0);
  static void InternalPrint(const char* prefix, const std::string& text);

  // Readers (every log call) share the lock; remembering and forgetting the
  // carrier take it alone, so no line is posted through a destroyed instance.
  static std::shared_mutex mutex_;
  static pp::Instance* instance_;
  static std::atomic<bool> show_debug_;
};
