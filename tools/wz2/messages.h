// What the tool says and how it ends: one-line failures and warnings on
// stderr, results on stdout, the exit statuses, and text written so that a
// Windows console shows it whatever its code page.
#pragma once

#include <stdio.h>

#include <string>

namespace wz2 {

// Exit statuses: 0 done, 1 failed (or check found errors), 2 bad usage.
#define EXIT_DONE 0
#define EXIT_FAILED 1
#define EXIT_USAGE 2

// Set by the command line: no progress, no summaries.
extern bool Quiet;
extern const char* CommandName;

// "wz2: <command>: ", or "wz2: " before a command is known: how every line
// the tool says of itself begins.
std::string MessagePrefix();
// "wz2: <command>: <text>" on stderr, one line. Returns EXIT_FAILED or
// EXIT_USAGE so callers can `return Fail(...)`.
int Fail(const std::string& text);
int UsageError(const std::string& text);
void Warn(const std::string& text);
// Prints a line on stdout (a result).
void Result(const std::string& text);
// Writes UTF-8 text to stdout or stderr: on a Windows console as UTF-16,
// elsewhere (a terminal, a file, a pipe) as the UTF-8 bytes.
void Print(FILE* stream, const std::string& utf8);

}  // namespace wz2
