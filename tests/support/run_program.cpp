#include "support/run_program.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

namespace wz2test {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

RunResult OutputFiles::Collect(int status) const {
  RunResult r;
  r.status = status;
  r.out = Slurp(out);
  r.err = Slurp(err);
  fs::remove(out);
  fs::remove(err);
  return r;
}

RunResult RunProgram(const fs::path& program, const std::vector<std::string>& args, const fs::path& scratch,
                     const fs::path& cwd, const std::function<void()>& inChild) {
  OutputFiles files(scratch);
  pid_t pid = fork();
  if (pid == 0) {
    int o = open(files.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = open(files.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(o, 1);
    dup2(e, 2);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    if (inChild) inChild();
    std::string name = program.string();
    std::vector<char*> argv{const_cast<char*>(name.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(name.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return files.Collect(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
}

}  // namespace wz2test
