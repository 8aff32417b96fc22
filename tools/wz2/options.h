// The tool's one command-line grammar. Every command describes its options
// and operands in one table; the same table parses its arguments and writes
// its help, so the two cannot disagree.
//
//   --name=VALUE or --name VALUE   a long option's value (-x VALUE for a short one)
//   --                             ends the options: every later argument is an operand
//   -                              is an operand (a file named "-")
//
// Every command also takes -q/--quiet and -h/--help. A single-value option
// given twice, a value missing or empty, a flag given a value, an unknown
// option, a missing required option and a wrong number of operands are each
// one usage error with one wording.
#pragma once

#include <stddef.h>

#include <map>
#include <string>
#include <vector>

namespace wz2 {

enum OptionKind {
  OPTION_FLAG,   // present or not
  OPTION_VALUE,  // one value, given at most once
  OPTION_LIST,   // a value each time it is given
};

struct OptionRule {
  const char* name;       // "-o" or "--level"
  OptionKind kind;
  const char* valueName;  // "FILE"; NULL for a flag
  bool required;
  const char* help;       // lines after the first are indented under it
};

struct CommandGrammar {
  const char* name;
  const char* summary;          // one line for the overview
  const OptionRule* options;
  size_t optionCount;
  const char* operandName;      // the first operand, named when it is missing
  const char* operandUsage;     // the operands in the usage line
  size_t minOperands, maxOperands;
  const char* about;            // after the usage line
  const char* notes;            // after the options, or ""
};

#define ANY_NUMBER ((size_t)-1)

class ParsedArgs {
 public:
  bool Has(const std::string& name) const { return values_.count(name) != 0; }
  // The value of a single-value option, "" when it was not given.
  std::string Value(const std::string& name) const;
  // Every value of a list option in the order given.
  std::vector<std::string> Values(const std::string& name) const;
  std::vector<std::string> operands;

 private:
  friend int ParseArgs(const CommandGrammar&, const std::vector<std::string>&, ParsedArgs*);
  std::map<std::string, std::vector<std::string>> values_;
};

// Whether -h or --help stands before any "--".
bool WantsHelp(const std::vector<std::string>& args);
// Parses the command's arguments (help already handled); -q/--quiet sets
// Quiet. EXIT_DONE, or EXIT_USAGE after printing the one-line error.
int ParseArgs(const CommandGrammar& grammar, const std::vector<std::string>& args, ParsedArgs* out);
// The command's help: usage line, what it does, options, notes.
void PrintCommandHelp(const CommandGrammar& grammar);

}  // namespace wz2
