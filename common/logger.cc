#include "common/logger.h"

#include <cstdio>
#include <mutex>

#include "platform/var.h"

namespace {
constexpr size_t kLineBufferSize = 256;
}  // namespace

std::shared_mutex Logger::mutex_;
pp::Instance* Logger::instance_ = nullptr;
std::atomic<bool> Logger::show_debug_{true};

void Logger::InitializeInstance(pp::Instance* instance) {
  std::unique_lock<std::shared_mutex> lock(mutex_);
  if (!instance_) instance_ = instance;
}

void Logger::ForgetInstance(pp::Instance* instance) {
  std::unique_lock<std::shared_mutex> lock(mutex_);
  if (instance_ == instance) instance_ = nullptr;
}

void Logger::EnableDebugLogs(bool enable) {
  show_debug_.store(enable);
}

#define LOGGER_FORWARD(prefix)          \
  va_list arguments;                    \
  va_start(arguments, format);          \
  InternalPrint(prefix, format, arguments); \
  va_end(arguments)

void Logger::Log(const char* format, ...) { LOGGER_FORWARD(kLogPrefix); }
void Logger::Error(const char* format, ...) { LOGGER_FORWARD(kErrorPrefix); }

void Logger::Debug(const char* format, ...) {
  if (!show_debug_.load()) return;
  LOGGER_FORWARD(kDebugPrefix);
}

void Logger::Warn(const char* format, ...) {
  if (!show_debug_.load()) return;
  LOGGER_FORWARD(kWarnPrefix);
}

#undef LOGGER_FORWARD

void Logger::Log(const std::string& text) { InternalPrint(kLogPrefix, text); }
void Logger::Error(const std::string& text) { InternalPrint(kErrorPrefix, text); }

void Logger::InternalPrint(const char* prefix, const char* format, va_list arguments) {
  std::shared_lock<std::shared_mutex> lock(mutex_);
  if (!instance_) return;
  // The prefix becomes part of the format; no prefix holds a per cent sign.
  const std::string line_format = std::string(prefix) + format;
  char line[kLineBufferSize];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  std::vsnprintf(line, sizeof line, line_format.c_str(), arguments);
#pragma GCC diagnostic pop
  instance_->PostMessage(pp::Var(std::string(line)));
}

void Logger::InternalPrint(const char* prefix, const std::string& text) {
  std::shared_lock<std::shared_mutex> lock(mutex_);
  if (!instance_) return;
  instance_->PostMessage(pp::Var(prefix + text));
}
