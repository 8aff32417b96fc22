// The command-line grammar: one parser and one help writer over the
// commands' option tables.
#include "tools/wz2/options.h"

#include <stdio.h>
#include <string.h>

#include "tools/wz2/messages.h"

namespace wz2 {
namespace {

// Help lays options out in two columns; the usage line wraps before this.
#define HELP_NAME_COLUMN 24u
#define HELP_WIDTH 78u

const OptionRule* FindOption(const CommandGrammar& grammar, const std::string& name) {
  for (size_t i = 0; i < grammar.optionCount; i++)
    if (name == grammar.options[i].name) return &grammar.options[i];
  return nullptr;
}

bool IsQuiet(const std::string& a) { return a == "-q" || a == "--quiet"; }
bool IsHelp(const std::string& a) { return a == "-h" || a == "--help"; }

// "-o FILE", "--level LEVEL", "--strict".
std::string OptionWithValue(const OptionRule& o) {
  return o.valueName ? std::string(o.name) + " " + o.valueName : std::string(o.name);
}

}  // namespace

std::string ParsedArgs::Value(const std::string& name) const {
  auto it = values_.find(name);
  return it == values_.end() || it->second.empty() ? std::string() : it->second.back();
}

std::vector<std::string> ParsedArgs::Values(const std::string& name) const {
  auto it = values_.find(name);
  return it == values_.end() ? std::vector<std::string>() : it->second;
}

bool WantsHelp(const std::vector<std::string>& args) {
  for (const std::string& a : args) {
    if (a == "--") return false;
    if (IsHelp(a)) return true;
  }
  return false;
}

int ParseArgs(const CommandGrammar& grammar, const std::vector<std::string>& args, ParsedArgs* out) {
  *out = ParsedArgs();
  bool options = true;
  for (size_t i = 0; i < args.size(); i++) {
    const std::string& a = args[i];
    if (!options || a == "-" || a.empty() || a[0] != '-') {
      out->operands.push_back(a);
      continue;
    }
    if (a == "--") {
      options = false;
      continue;
    }
    if (IsQuiet(a)) {
      Quiet = true;
      continue;
    }
    // A long option may carry its value after '='.
    size_t eq = a.compare(0, 2, "--") == 0 ? a.find('=') : std::string::npos;
    std::string name = a.substr(0, eq);
    const OptionRule* o = FindOption(grammar, name);
    if (!o) return UsageError("unknown option " + name);
    if (o->kind == OPTION_FLAG) {
      if (eq != std::string::npos) return UsageError(name + " takes no value");
      out->values_[name];
      continue;
    }
    std::string value;
    if (eq != std::string::npos) {
      value = a.substr(eq + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    }
    if (value.empty()) return UsageError(name + " needs a value");
    std::vector<std::string>& values = out->values_[name];
    if (o->kind == OPTION_VALUE && !values.empty()) return UsageError(name + " is given more than once");
    values.push_back(value);
  }
  for (size_t i = 0; i < grammar.optionCount; i++) {
    const OptionRule& o = grammar.options[i];
    if (o.required && !out->Has(o.name)) return UsageError("missing " + OptionWithValue(o));
  }
  if (out->operands.size() < grammar.minOperands) return UsageError(std::string("missing ") + grammar.operandName);
  if (out->operands.size() > grammar.maxOperands) return UsageError("unexpected argument " + out->operands[grammar.maxOperands]);
  return EXIT_DONE;
}

void PrintCommandHelp(const CommandGrammar& grammar) {
  // Usage line: required options bare, the others in brackets, lists
  // marked as repeatable, then the operands; wrapped under the command.
  std::vector<std::string> words;
  for (size_t i = 0; i < grammar.optionCount; i++) {
    const OptionRule& o = grammar.options[i];
    std::string w = OptionWithValue(o);
    if (!o.required) w = "[" + w + "]";
    if (o.kind == OPTION_LIST) w += "...";
    words.push_back(w);
  }
  if (grammar.operandUsage[0]) words.push_back(grammar.operandUsage);
  std::string line = std::string("usage: wz2 ") + grammar.name;
  size_t indent = line.size() + 1;
  std::string text;
  for (const std::string& w : words) {
    if (line.size() + 1 + w.size() > HELP_WIDTH && line.size() > indent) {
      text += line + "\n";
      line = std::string(indent - 1, ' ');
    }
    line += " " + w;
  }
  text += line + "\n\n" + grammar.about;
  if (grammar.optionCount) {
    text += "\n";
    for (size_t i = 0; i < grammar.optionCount; i++) {
      const OptionRule& o = grammar.options[i];
      std::string left = "  " + OptionWithValue(o);
      // A name that leaves no two blanks before the column stands on a line
      // of its own, so that every help text starts in the same column.
      if (left.size() + 2 > HELP_NAME_COLUMN) {
        text += left + "\n";
        left.clear();
      }
      left.append(HELP_NAME_COLUMN - left.size(), ' ');
      const char* h = o.help;
      for (bool first = true; *h; first = false) {
        const char* end = strchr(h, '\n');
        size_t n = end ? (size_t)(end - h) : strlen(h);
        text += (first ? left : std::string(HELP_NAME_COLUMN, ' ')) + std::string(h, n) + "\n";
        h += n + (end ? 1 : 0);
      }
    }
  }
  if (grammar.notes[0]) text += std::string("\n") + grammar.notes;
  Print(stdout, text);
}

}  // namespace wz2
