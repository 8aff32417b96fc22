// Progress on a terminal: bytes done of total and the rate, redrawn in
// place at most a few times a second. Silent with --quiet or when stderr is
// not a terminal, so that redirected output holds only results.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace wz2 {

class Progress {
 public:
  Progress(const std::string& label, uint64_t total);
  ~Progress();
  // Names the item now being worked on (shown until the next one), so that
  // one long file does not leave the line standing still.
  void Begin(const std::string& item);
  void Advance(uint64_t bytes);
  void Finish();

 private:
  void Draw(bool force);
  std::string label_, item_;
  size_t lastLength_ = 0;
  uint64_t total_, done_ = 0;
  double start_ = 0, lastDraw_ = 0;
  bool active_ = false, drawn_ = false;
};

}  // namespace wz2
