#include <gtest/gtest.h>

#include <atomic>

#include "platform/event.h"
#include "platform/folder_watch.h"
#include "platform/system.h"
#include "platform/thread.h"
#include "temp_data_folder.h"

namespace vorlund {
namespace {

struct Waiter {
  Event event;
  std::atomic<int> woke{0};
  static void run(void* self) {
    auto* waiter = static_cast<Waiter*>(self);
    if (waiter->event.wait(kWaitForever) == WaitResult::signalled) waiter->woke.fetch_add(1);
  }
};

// Verifies the timed join and the manual-reset event: a thread blocked on the event is still
// running after a timed join gives up, ends once the event is set, and the event then stays
// signalled for every later wait.
TEST(EventThreadTest, TimedJoinAndManualResetEvent) {
  Waiter waiter;
  ASSERT_EQ(ERROR_SUCCESS, waiter.event.create());
  EXPECT_EQ(WaitResult::timedOut, waiter.event.wait(0));
  Thread thread;
  ASSERT_EQ(ERROR_SUCCESS, thread.start(&Waiter::run, &waiter));
  EXPECT_FALSE(thread.join(20));
  EXPECT_EQ(0, waiter.woke.load());
  waiter.event.set();
  EXPECT_TRUE(thread.join(kWaitForever));
  EXPECT_FALSE(thread.exists());
  EXPECT_EQ(1, waiter.woke.load());
  EXPECT_EQ(WaitResult::signalled, waiter.event.wait(0));
  EXPECT_EQ(WaitResult::signalled, waiter.event.wait(10));
}

// Verifies the folder watch: a file written in the folder wakes it; a change made after the
// wake-up but before the re-arm wakes the next wait at once, so nothing written while the
// watcher pauses and reads is lost; the stop event wakes it too. A helper sets the stop
// event after 20 s, so a missed change fails the test instead of hanging it.
TEST(FolderWatchThreadTest, KeepsChangesMadeBeforeTheRearm) {
  if (runningUnderWine()) GTEST_SKIP() << "Wine drops changes made between notifications";
  test::TempDataFolder temp;
  Event stop;
  ASSERT_EQ(ERROR_SUCCESS, stop.create());
  struct Watchdog {
    Event* stop;
    Event cancel;
    static void run(void* self) {
      auto* dog = static_cast<Watchdog*>(self);
      if (dog->cancel.wait(20000) != WaitResult::signalled) dog->stop->set();
    }
  } watchdog{&stop, {}};
  ASSERT_EQ(ERROR_SUCCESS, watchdog.cancel.create());
  Thread guard;
  guard.start(&Watchdog::run, &watchdog);

  FolderWatch watch;
  ASSERT_EQ(ERROR_SUCCESS, watch.start(Path::fromUtf8(temp.dataFolder().string())));
  test::writeBytes(temp.file("params.bin"), "abc", 3);
  EXPECT_EQ(FolderWatch::Wake::changed, watch.wait(stop));
  test::writeBytes(temp.file("params.bin"), "abcd", 4);
  EXPECT_EQ(ERROR_SUCCESS, watch.rearm());
  EXPECT_EQ(FolderWatch::Wake::changed, watch.wait(stop));
  watchdog.cancel.set();
  guard.join(kWaitForever);
  stop.set();
  EXPECT_EQ(FolderWatch::Wake::stopped, watch.wait(stop));
}

#if !VORLUND_WINDOWS
// Verifies that changes to the names a watch ignores (the log its own process writes) wake no
// wait, while any other file still does.
TEST(FolderWatchThreadTest, IgnoredNamesWakeNoWait) {
  test::TempDataFolder temp;
  FolderWatch watch;
  watch.ignore("apo.log");
  watch.ignore("apo.old.log");
  ASSERT_EQ(ERROR_SUCCESS, watch.start(Path::fromUtf8(temp.dataFolder().string())));
  test::writeBytes(temp.file("apo.log"), "line", 4);
  test::fs::rename(temp.file("apo.log"), temp.file("apo.old.log"));
  Event stop;
  ASSERT_EQ(ERROR_SUCCESS, stop.create());
  struct Stopper {
    Event* stop;
    static void run(void* self) {
      sleepMilliseconds(300);
      static_cast<Stopper*>(self)->stop->set();
    }
  } stopper{&stop};
  Thread thread;
  thread.start(&Stopper::run, &stopper);
  EXPECT_EQ(FolderWatch::Wake::stopped, watch.wait(stop));
  thread.join(kWaitForever);
  Event never;
  ASSERT_EQ(ERROR_SUCCESS, never.create());
  test::writeBytes(temp.file("apo.log.txt"), "x", 1);
  EXPECT_EQ(FolderWatch::Wake::changed, watch.wait(never));
}
#endif

}  // namespace
}  // namespace vorlund
