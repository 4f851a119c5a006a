#include "platform/posix/runtime.h"

#include <string>

#include "platform/posix/asio_loop.h"
#include "platform/posix/host_resolver.h"
#include "platform/posix/network.h"
#include "platform/posix/udp_socket.h"
#include "platform/posix/worker_thread.h"

namespace posix {

Runtime::Runtime()
    : main_loop_(std::make_shared<AsioLoop>("posix main")), network_(std::make_unique<Network>()) {}

Runtime::~Runtime() {
  main_loop_->PostQuit();
}

pp::MessageLoop Runtime::main_loop() const {
  return pp::MessageLoop(main_loop_);
}

void Runtime::RunMainLoop() {
  main_loop_->Run();
}

void Runtime::QuitMainLoop() {
  main_loop_->PostQuit();
}

std::unique_ptr<pp::WorkerThreadBackend> Runtime::CreateWorkerThread() {
  return std::make_unique<WorkerThread>("posix worker " + std::to_string(++workers_made_));
}

std::shared_ptr<pp::UDPSocketBackend> Runtime::CreateUDPSocket() {
  return std::make_shared<UDPSocket>(*network_);
}

std::shared_ptr<pp::HostResolverBackend> Runtime::CreateHostResolver() {
  return std::make_shared<HostResolver>(*network_);
}

}  // namespace posix
