// cuebell-host: the event relay module with its page channel on stdio.
#include "cuebell/nacl_instance.h"
#include "host/stdio_embedder.h"

pp::Module* pp::CreateModule() {
  return new cuebell::NaClModule;
}

int main(int argc, char** argv) {
  return host::RunStdioEmbedder(
      argc, argv,
      {"cuebell-host", "Runs the Cuebell event relay module for one page on stdin/stdout."});
}
