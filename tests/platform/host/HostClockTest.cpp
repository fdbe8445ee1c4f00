// The virtual clock: kept in host.db, advanced only by Sleep, shared by
// every process that opens the host.
#include <gtest/gtest.h>
#include <time.h>

#include <string>

#include "platform/host/Host.h"
#include "support/TestHost.h"

namespace {

int64_t SecondsOf(const plat::SystemTime& t) { return ((t.day * 24 + t.hour) * 60 + t.minute) * 60 + t.second; }

void WaitRealMilliseconds(long milliseconds) {
  struct timespec span = {0, milliseconds * 1000000L};
  nanosleep(&span, nullptr);
}

TEST(HostClock, SleepAdvancesTheVirtualClockAtOnceForEveryProcess) {
  TestHost first;
  std::string error;
  // A second connection to the same host stands for another process.
  auto second = host::Host::Open(first.Folder(), host::OpenOptions{}, &error);
  ASSERT_TRUE(second) << error;
  plat::ISystem& a = first.Host().System();
  plat::ISystem& b = second->System();

  const plat::SystemTime start = a.LocalTime();
  EXPECT_EQ(start.year, 2015);
  EXPECT_EQ(SecondsOf(b.LocalTime()), SecondsOf(start));
  const uint32_t ticks = a.TickCount();

  a.Sleep(90'000);
  EXPECT_EQ(SecondsOf(a.LocalTime()), SecondsOf(start) + 90) << "the sleeper sees its own sleep at once";
  EXPECT_EQ(a.TickCount(), ticks + 90'000);
  WaitRealMilliseconds(5);  // longer than the other process may keep its reading
  EXPECT_EQ(SecondsOf(b.LocalTime()), SecondsOf(start) + 90);

  // Sleeps of both add up: each reads the stored time before advancing it,
  // not the reading it holds.
  EXPECT_EQ(SecondsOf(a.LocalTime()), SecondsOf(start) + 90);
  b.Sleep(10'000);
  a.Sleep(10'000);
  EXPECT_EQ(SecondsOf(a.LocalTime()), SecondsOf(start) + 110);
  WaitRealMilliseconds(5);
  EXPECT_EQ(SecondsOf(b.LocalTime()), SecondsOf(start) + 110);

  // Without a sleep the virtual clock stands still, however much real time passes.
  WaitRealMilliseconds(20);
  EXPECT_EQ(SecondsOf(a.LocalTime()), SecondsOf(start) + 110);
}

}  // namespace
