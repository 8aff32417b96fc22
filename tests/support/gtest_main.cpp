#include <gtest/gtest.h>

#include "app/state.h"
#include "double/scripted_win32.h"

namespace {
// Every test starts from a fresh host platform (no drives, no registry, no
// scripted answers left over from the test before) and a fresh process: the
// updater's state as at start-up, its error box installed.
class HostReset : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
    scripted::Reset();
    ResetProcessState();
  }
};
}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new HostReset);
  return RUN_ALL_TESTS();
}
