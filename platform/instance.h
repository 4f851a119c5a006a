// Module and instance entry points, and the handle that resources are made for.
#pragma once

#include <cstdint>

#include "platform/backend.h"
#include "platform/var.h"

// The platform's identity of one embed: the Embedding that serves it.
using PP_Instance = pp::Embedding*;

namespace pp {

class Instance;

class InstanceHandle {
 public:
  InstanceHandle(PP_Instance instance) : instance_(instance) {}  // NOLINT: implicit as in the API
  InstanceHandle(const Instance* instance);                       // NOLINT
  PP_Instance pp_instance() const { return instance_; }
  Embedding* embedding() const { return instance_; }

 private:
  PP_Instance instance_;
};

class Instance {
 public:
  explicit Instance(PP_Instance instance) : instance_(instance) {}
  virtual ~Instance() = default;
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  virtual bool Init(uint32_t argc, const char* argn[], const char* argv[]);
  virtual void DidChangeView() {}
  virtual void DidChangeFocus(bool /*has_focus*/) {}
  virtual bool HandleInputEvent() { return false; }
  virtual bool HandleDocumentLoad() { return false; }
  virtual void HandleMessage(const Var& message);

  // Delivers `message` to the page. Callable from any thread.
  void PostMessage(const Var& message);
  PP_Instance pp_instance() const { return instance_; }

 private:
  PP_Instance instance_;
};

class Module {
 public:
  Module() = default;
  virtual ~Module() = default;
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  virtual bool Init() { return true; }
  // The platform owns the returned instance and destroys it when the embed goes away.
  virtual Instance* CreateInstance(PP_Instance instance) = 0;
};

// Defined once by each embedder program for the module it embeds; the platform
// calls it once and owns the result.
Module* CreateModule();

// Wall-clock microseconds since 1970-01-01 00:00 UTC, as the instance's platform reads it.
int64_t WallClockMicros(const InstanceHandle& instance);

}  // namespace pp
