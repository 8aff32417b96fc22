// The host's files as the tool meets them: paths given in UTF-8, inputs
// read only when they are regular files, and what an output may replace.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <filesystem>
#include <string>
#include <vector>

namespace wz2 {

namespace fs = std::filesystem;

// Paths given on the command line are UTF-8 on every host.
fs::path PathFromUtf8(const std::string& utf8);
std::string PathToUtf8(const fs::path& path);

// This process's id: part of the names of temporary files and folders, so
// that two runs side by side never pick the same one.
unsigned long ProcessId();

// fopen for a path of any host's characters (_wfopen on Windows).
FILE* OpenPath(const fs::path& path, const char* mode);
// The system's text for an errno value.
std::string SystemError(int code);

// Opens a regular file for reading, with its size at that moment; refuses
// anything else (a folder, a device, a FIFO, which is never waited on).
FILE* OpenRegularFile(const fs::path& path, uint64_t* size, std::string* error);
// Reads a whole regular file, exactly the size it had when opened; false
// with a reason, also when it changed while it was read.
bool ReadFile(const fs::path& path, std::vector<uint8_t>* out, std::string* error);

// Whether an output may go to target: nothing there, or a regular file. A
// device, FIFO, socket, folder or link (Windows: reparse point) is never
// replaced; it is looked at without following links.
bool ReplaceableTarget(const fs::path& target, std::string* error);
// -o as pack and build-exe take it, checked before any work: "-" is refused
// (an output is renamed into place and read back, which standard output
// cannot be), and so is a target ReplaceableTarget refuses. EXIT_DONE, or
// the status to return.
int CheckOutputOption(const std::string& output);

}  // namespace wz2
