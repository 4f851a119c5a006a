// The embedder programs' main: one module instance whose page channel is
// standard input and output, one JSON value per line (see page_json.h).
//
// Each stdin line is one page message, handled in order on the platform's main
// thread; a line that is not JSON is reported on stderr with its number and
// skipped. Every value the instance posts becomes one stdout line, flushed at
// once. End of input, SIGINT or SIGTERM destroy the instance (its last log
// line is printed) and the program exits with status 0.
#pragma once

namespace host {

struct EmbedderProgram {
  const char* name;         // "pacewire-host"
  const char* description;  // one line for --help
};

// Runs the program around the module that pp::CreateModule makes.
int RunStdioEmbedder(int argc, char** argv, const EmbedderProgram& program);

}  // namespace host
