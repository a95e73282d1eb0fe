// The per-request look at a service's state: it follows every recorded change and edits of the
// machine profile, without reading the files when nothing changed.
#include <gtest/gtest.h>

#include "platform/services.h"
#include "tests/support/test_support.h"

namespace {

TEST(ServiceStateWatchTest, FollowsRecordedStatesAndTheProfilesInitialState) {
  test_support::ScratchMachine machine;
  platform::ServiceStateWatch watch("w3svc");
  EXPECT_TRUE(watch.Running()) << "never recorded: the profile's State, running by default";
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(platform::RecordServiceState("W3SVC", false));
    EXPECT_FALSE(watch.Running());
    EXPECT_FALSE(watch.Running());
    ASSERT_TRUE(platform::RecordServiceState("W3SVC", true));
    EXPECT_TRUE(watch.Running());
  }
  // Without a state file the profile decides, also when it is edited after the first look.
  std::filesystem::remove(platform::ServiceStatePath());
  const auto profile = machine.root() / "machine.ini";
  test_support::WriteFile(profile, test_support::ReadFile(profile) + "State=stopped\r\n");
  EXPECT_FALSE(watch.Running());
  // A state file that cannot be read gives the profile's answer, not a crash.
  test_support::WriteFile(platform::ServiceStatePath(), std::string("\xff\x00[[", 4));
  EXPECT_FALSE(watch.Running());
  platform::ServiceStateWatch unknown("NoSuchService");
  EXPECT_TRUE(unknown.Running()) << "a machine without the service never gates anything";
}

TEST(ServiceStateWatchTest, FollowsTheMachineRootItIsAskedOn) {
  test_support::ScratchMachine first;
  platform::ServiceStateWatch watch("w3svc");
  ASSERT_TRUE(platform::RecordServiceState("W3SVC", false));
  EXPECT_FALSE(watch.Running());
  {
    test_support::ScratchMachine second;  // points the process at a fresh machine
    EXPECT_TRUE(watch.Running()) << "the other machine's state, not the first one's";
    ASSERT_TRUE(platform::RecordServiceState("W3SVC", false));
    EXPECT_FALSE(watch.Running());
    ASSERT_TRUE(platform::RecordServiceState("W3SVC", true));
    EXPECT_TRUE(watch.Running());
  }
  EXPECT_FALSE(watch.Running()) << "back on the first machine";
}

}  // namespace
