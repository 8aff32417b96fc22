// Runs a program of the build as a user would, with its output in files, for
// the tests of the publisher's tool.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace wz2test {

struct RunResult {
  int status = -1;  // exit status, or 128 + the signal that ended it
  std::string out, err;
};

// Runs program with args; its standard output and error go through files in
// scratch. cwd, when given, is its working folder; inChild runs in the child
// before the program replaces it (the pid stays the same through exec).
RunResult RunProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                     const std::filesystem::path& scratch, const std::filesystem::path& cwd = {},
                     const std::function<void()>& inChild = nullptr);

// Where a run's standard output and error go, in scratch; Collect reads
// them into the result and removes them.
struct OutputFiles {
  explicit OutputFiles(const std::filesystem::path& scratch) : out(scratch / ".stdout"), err(scratch / ".stderr") {}
  RunResult Collect(int status) const;
  std::filesystem::path out, err;
};

// A whole file's bytes ("" when it cannot be read).
std::string Slurp(const std::filesystem::path& p);

}  // namespace wz2test
