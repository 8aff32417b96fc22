// The tool's commands and its command line: each command takes its
// arguments parsed by its table (options.h), and the command line picks the
// command, its help, or the options every command takes.
#pragma once

#include <string>
#include <vector>

namespace wz2 {

class ParsedArgs;
int CommandList(const ParsedArgs& args);
int CommandExtract(const ParsedArgs& args);
int CommandPack(const ParsedArgs& args);
int CommandCheck(const ParsedArgs& args);
int CommandBuildExe(const ParsedArgs& args);
int CommandCheckValue(const ParsedArgs& args);
int CommandInit(const ParsedArgs& args);

// Help for one command ("" for the overview); false when unknown.
bool PrintHelp(const std::string& command);

// Runs the command line given after the program's name; its exit status.
// beforeRun, when given, is called once the command's arguments are
// accepted and before it starts: the program installs its interrupt
// clean-up there, which a caller in a test leaves out.
int RunCommandLine(const std::vector<std::string>& args, void (*beforeRun)());

}  // namespace wz2
