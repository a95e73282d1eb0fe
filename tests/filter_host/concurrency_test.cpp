// Many requests at once through the exports: every minute is charged once and the sections
// never deadlock. Run under ThreadSanitizer by test.sh as well.
#include <thread>

#include "platform/text.h"
#include "tests/filter_host/host_fixture.h"

namespace {

class ConcurrencyTest : public host_test::StoreHostTest {};

TEST_P(ConcurrencyTest, ConcurrentRequestsChargeEachMinuteOnce) {
  const std::vector<std::string> users = {"ann", "ben", "cas", "dirk"};
  for (const auto& user : users) Db("add-user", {user, "1000"});
  Db("add-site", {"free.example.org"});
  ASSERT_EQ(Load(), TRUE);
  machine_.Reg({"add", "HKLM\\software\\Minutrix", "/v", "MinutrixDebug", "/d", "0", "/f"});

  constexpr int kThreads = 8;
  constexpr int kPerThread = 12;
  for (int minute = 0; minute <= 9; ++minute) {
    At("2026-12-07 09:0" + std::to_string(minute) + ":00");
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < kPerThread; ++i) {
          const std::string& user = users[(t + i) % users.size()];
          const std::string url =
              i % 5 == 4 ? "http://timeleft/" : "http://site" + std::to_string(i) + ".example/";
          const auto answer = Send("SCHOOL\\" + user, url);
          EXPECT_NE(answer.status, static_cast<DWORD>(SF_STATUS_REQ_ERROR));
        }
      });
    }
    for (auto& thread : threads) thread.join();
  }
  // Every user browsed from 09:00 to 09:09 without an idle gap: nine minutes, not more.
  for (const auto& user : users) {
    EXPECT_EQ(UsedMinutes(platform::UpperAscii(user)), 9) << user;
  }
}

INSTANTIATE_TEST_SUITE_P(Stores, ConcurrencyTest, host_test::HostStores(), test_support::ByName{});

}  // namespace
