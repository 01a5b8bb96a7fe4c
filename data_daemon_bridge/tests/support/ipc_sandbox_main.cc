// The main function of the test programs that speak over IPC: each test process runs in a
// private IPC namespace of its own (support/ipc_sandbox.h), entered before its first test, so
// that test processes of one suite, suites of different build trees and a daemon running on the
// machine never meet, whether ctest runs them one at a time or side by side.
#include "gtest/gtest.h"
#include "support/ipc_sandbox.h"

namespace {

// An environment, not a step of main, so that listing the tests makes no sandbox.
class IpcSandboxEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { data_daemon_bridge::testing::enter_ipc_sandbox(); }
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new IpcSandboxEnvironment);
  return RUN_ALL_TESTS();
}
