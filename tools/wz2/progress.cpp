// Progress on a terminal, drawn on stderr and only there: redirected output
// holds results alone.
#include "tools/wz2/progress.h"

#include <stdio.h>

#include <chrono>

#include "tools/wz2/messages.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace wz2 {

namespace {

bool StderrIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(2) != 0;
#endif
}

double Now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string HumanBytes(double bytes) {
  const char* units[] = {"B", "KiB", "MiB", "GiB"};
  int u = 0;
  while (bytes >= 1024 && u < 3) {
    bytes /= 1024;
    u++;
  }
  char text[64];
  snprintf(text, sizeof(text), u == 0 ? "%.0f %s" : "%.1f %s", bytes, units[u]);
  return text;
}

}  // namespace

Progress::Progress(const std::string& label, uint64_t total) : label_(label), total_(total) {
  active_ = !Quiet && StderrIsTerminal();
  start_ = lastDraw_ = Now();
}

Progress::~Progress() { Finish(); }

void Progress::Begin(const std::string& item) {
  item_ = item;
  Draw(!drawn_);
}

void Progress::Advance(uint64_t bytes) {
  done_ += bytes;
  Draw(false);
}

void Progress::Draw(bool force) {
  if (!active_) return;
  double now = Now();
  if (!force && now - lastDraw_ < 0.2) return;
  lastDraw_ = now;
  double elapsed = now - start_;
  double rate = elapsed > 0 ? (double)done_ / elapsed : 0;
  std::string line = label_ + ": " + HumanBytes((double)done_) + " / " + HumanBytes((double)total_) + "  " +
                     HumanBytes(rate) + "/s";
  if (!item_.empty()) line += "  " + item_;
  // Redrawn in place: pad over what a longer previous line left.
  size_t length = line.size();
  if (length < lastLength_) line.append(lastLength_ - length, ' ');
  lastLength_ = length;
  Print(stderr, "\r" + line);
  fflush(stderr);
  drawn_ = true;
}

void Progress::Finish() {
  if (!active_) return;
  if (drawn_) {
    item_.clear();
    Draw(true);
    fprintf(stderr, "\n");
  }
  active_ = false;
}
}  // namespace wz2
