// Runs the publisher's tool in this process, as RunProgram runs the built
// program: its command line through the tool's library, its standard output
// and error caught in files in scratch, in cwd when one is given. Commands
// are tested so without a process start each; what only a process shows
// (an exit by signal, a terminal, resource limits, the interrupt clean-up,
// the program's own folder) runs the program itself.
#pragma once

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "tools/wz2/commands.h"

namespace wz2test {

// Points a standard stream at a new file for as long as it lives; what the
// stream holds buffered goes first to where it was headed.
class StreamToFile {
 public:
  StreamToFile(FILE* stream, const std::filesystem::path& path) : stream_(stream) {
    fflush(stream_);
    saved_ = dup(fileno(stream_));
    int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (file >= 0) {
      dup2(file, fileno(stream_));
      close(file);
    }
  }
  ~StreamToFile() {
    fflush(stream_);
    if (saved_ >= 0) {
      dup2(saved_, fileno(stream_));
      close(saved_);
    }
  }
  StreamToFile(const StreamToFile&) = delete;
  StreamToFile& operator=(const StreamToFile&) = delete;

 private:
  FILE* stream_;
  int saved_;
};

inline RunResult RunTool(const std::vector<std::string>& args, const std::filesystem::path& scratch,
                         const std::filesystem::path& cwd = {}) {
  namespace fs = std::filesystem;
  OutputFiles files(scratch);
  fs::path home = fs::current_path();
  int status;
  {
    StreamToFile out(stdout, files.out), err(stderr, files.err);
    if (!cwd.empty()) fs::current_path(cwd);
    status = wz2::RunCommandLine(args, nullptr);
    if (!cwd.empty()) fs::current_path(home);
  }
  return files.Collect(status);
}

}  // namespace wz2test
