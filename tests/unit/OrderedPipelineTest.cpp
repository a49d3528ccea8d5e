#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>

#include "Common/OrderedPipeline.h"

namespace quillet {
namespace {

using Pipeline = OrderedPipeline<std::string>;

// Items finish out of order, some fail, and the workers stay within the budget of started items;
// the consumer still gets every item, or its failure, at its own place.
TEST(OrderedPipeline, TakesInOrderWithinTheBudgetAndFailuresInPlace) {
  for (unsigned workers : {0u, 1u, 3u}) {
    std::atomic<std::size_t> started{0};
    Pipeline pipeline(
        40, workers,
        [&](Pipeline::Task& task) {
          ++started;
          if (task.Index() % 4 == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
          }
          if (task.Index() % 7 == 3) {
            throw std::runtime_error("item " + std::to_string(task.Index()));
          }
          return std::to_string(task.Index());
        },
        5, 1);
    std::size_t largestLead = 0;
    for (std::size_t i = 0; i < 40; ++i) {
      largestLead = std::max(largestLead, started.load() - i);
      try {
        EXPECT_EQ(pipeline.Take(i), std::to_string(i)) << workers << " workers";
        EXPECT_NE(i % 7, 3u) << workers << " workers";
      } catch (const std::runtime_error& e) {
        EXPECT_EQ(e.what(), "item " + std::to_string(i)) << workers << " workers";
      }
    }
    EXPECT_LE(largestLead, 5u) << workers << " workers";
  }
}

// Destroying the pipeline reaches a producer in the middle of its item.
TEST(OrderedPipeline, EndsWhileAProducerIsInTheMiddleOfAnItem) {
  std::atomic<bool> holding{false};
  std::atomic<int> started{0};
  std::atomic<int> gaveUp{0};
  {
    Pipeline pipeline(
        3, 2,
        [&](Pipeline::Task& task) {
          ++started;
          while (task.Hold(1)) {
            holding = true;
            std::this_thread::yield();
          }
          ++gaveUp;
          return std::string();
        },
        std::numeric_limits<std::size_t>::max());
    while (!holding) {
      std::this_thread::yield();
    }
  }
  EXPECT_EQ(gaveUp.load(), started.load());
}

} // namespace
} // namespace quillet
