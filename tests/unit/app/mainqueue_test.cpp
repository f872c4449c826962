#include "app/mainqueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

TEST(MainQueue, SyncFromAWorkerRunsOnTheMainThreadAndWaits) {
  MainQueue q;
  q.setMainThread();
  const auto mainId = std::this_thread::get_id();
  std::atomic<bool> ranOnMain{false}, returned{false};
  std::thread worker([&] {
    q.sync([&] { ranOnMain = std::this_thread::get_id() == mainId; });
    returned = true;
  });
  while (!returned) {
    q.waitForWork(std::chrono::milliseconds(50));
    q.processPending();
  }
  worker.join();
  EXPECT_TRUE(ranOnMain);
}

TEST(MainQueue, SyncOnTheMainThreadRunsInline) {
  MainQueue q;
  q.setMainThread();
  int n = 0;
  EXPECT_TRUE(q.sync([&] { ++n; }));
  EXPECT_EQ(n, 1);
  EXPECT_EQ(q.processPending(), 0);
}

TEST(MainQueue, PostedJobsRunInOrderWhenPumped) {
  MainQueue q;
  q.setMainThread();
  std::string order;
  int wakes = 0;
  q.setWakeUp([&] { ++wakes; });
  q.post([&] { order += 'a'; });
  q.post([&] { order += 'b'; });
  EXPECT_EQ(order, "");
  EXPECT_EQ(q.processPending(), 2);
  EXPECT_EQ(order, "ab");
  EXPECT_EQ(wakes, 2);
}

TEST(MainQueue, AStoppedWorkerGivesUpWithoutRunningItsJob) {
  MainQueue q;
  q.setMainThread();
  std::atomic<bool> ran{false};
  std::atomic<int> result{-1};
  std::jthread worker([&](std::stop_token st) { result = q.sync([&] { ran = true; }, st) ? 1 : 0; });
  // The main thread never pumps: it stops the worker instead, as a shutdown does.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  worker.request_stop();
  worker.join();
  EXPECT_EQ(result, 0);
  q.processPending();
  EXPECT_FALSE(ran);
}

}  // namespace
