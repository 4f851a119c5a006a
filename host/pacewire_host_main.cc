// pacewire-host: the play-time module with its page channel on stdio.
#include "host/stdio_embedder.h"
#include "pacewire/nacl_instance.h"

pp::Module* pp::CreateModule() {
  return new pacewire::NaClModule;
}

int main(int argc, char** argv) {
  return host::RunStdioEmbedder(
      argc, argv,
      {"pacewire-host", "Runs the Pacewire play-time module for one page on stdin/stdout."});
}
