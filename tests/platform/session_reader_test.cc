#include "platform/session_reader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace qvx {
namespace {

// A query that waits until the test lets it answer, as a hanging smbstatus would, and counts
// how often it was asked.
struct Gate {
  std::mutex mu;
  std::condition_variable cv;
  int open = 0;  // answers allowed
  int asked = 0;
  int answered = 0;
  bool fail = false;
  bool Query(std::vector<ServerSession>* out) {
    std::unique_lock<std::mutex> lock(mu);
    ++asked;
    cv.notify_all();
    cv.wait(lock, [this] { return open > 0; });
    --open;
    ++answered;
    cv.notify_all();
    if (fail) return false;
    ServerSession s;
    s.client = "10.0.0." + std::to_string(answered);
    out->push_back(s);
    return true;
  }
  void Let(int n) {
    std::unique_lock<std::mutex> lock(mu);
    const int target = answered + n;
    open += n;
    cv.notify_all();
    cv.wait(lock, [&] { return answered >= target; });
  }
  // Every query from now on answers at once.
  void Release() {
    std::lock_guard<std::mutex> lock(mu);
    open = 1 << 30;
    cv.notify_all();
  }
  void AwaitAsked(int n) {
    std::unique_lock<std::mutex> lock(mu);
    cv.wait(lock, [&] { return asked >= n; });
  }
};

// Polls (bounded) until the reader has taken in what its query answered.
template <typename Done>
bool Eventually(Done done) {
  for (int i = 0; i < 5000; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}

TEST(SessionReaderTest, TheCallerNeverWaitsForAQuery) {
  Gate gate;
  SessionReader r([&](std::vector<ServerSession>* out) { return gate.Query(out); },
                  std::chrono::hours(1), std::chrono::hours(1));
  std::vector<ServerSession> list;
  // The query hangs: the caller is answered at once (a caller that waited would hang here),
  // and the list is only on its way.
  EXPECT_FALSE(r.List(&list));
  gate.AwaitAsked(1);
  EXPECT_FALSE(r.List(&list));
  EXPECT_TRUE(r.Pending());
  gate.Let(1);
  ASSERT_TRUE(Eventually([&] { return !r.Pending(); }));
  ASSERT_TRUE(r.List(&list));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].client, "10.0.0.1");
  // Expired: the old list answers while a new one is read.
  r.Expire();
  ASSERT_TRUE(r.List(&list));
  EXPECT_EQ(list[0].client, "10.0.0.1");
  gate.Release();
}

TEST(SessionReaderTest, AFailureIsToldAndNotTriedAgainDuringThePause) {
  Gate gate;
  gate.fail = true;
  SessionReader r([&](std::vector<ServerSession>* out) { return gate.Query(out); },
                  std::chrono::milliseconds(0), std::chrono::hours(1));
  std::vector<ServerSession> list;
  EXPECT_FALSE(r.List(&list));
  gate.Let(1);
  // The failure is no list on its way, and it is not asked again within the pause, however
  // often the list is asked for.
  ASSERT_TRUE(Eventually([&] { return !r.Pending(); }));
  for (int i = 0; i < 20; ++i) EXPECT_FALSE(r.List(&list));
  std::lock_guard<std::mutex> lock(gate.mu);
  EXPECT_EQ(gate.asked, 1);
  gate.open = 1 << 30;
  gate.cv.notify_all();
}

}  // namespace
}  // namespace qvx
