#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

#include "Common/OrderedPipeline.h"

namespace quillet {
namespace {

using Pipeline = OrderedPipeline<std::string>;

// Out of order finishes and failures reach the consumer in place; started items stay in budget.
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
            throw std::runtime_error(std::string("item ").append(std::to_string(task.Index())));
          }
          return std::to_string(task.Index());
        },
        5, 1);
    std::size_t largestLead = 0;
    for (std::size_t i = 0; i < 40; ++i) {
      largestLead = std::max(largestLead, started.load() - i);
      std::string got;
      try {
        got = pipeline.Take(i);
      } catch (const std::runtime_error& e) {
        got = e.what();
      }
      EXPECT_EQ(got, std::string(i % 7 == 3 ? "item " : "").append(std::to_string(i))) << workers;
    }
    EXPECT_LE(largestLead, 5u) << workers;
  }
}

// Destroying the pipeline reaches the producers in the middle of their items, and no worker starts
// another item after that.
TEST(OrderedPipeline, EndsWhileAProducerIsInTheMiddleOfAnItem) {
  std::atomic<int> started{0};
  {
    Pipeline pipeline(
        3, 2,
        [&](Pipeline::Task& task) {
          ++started;
          while (task.Hold(1)) {
          }
          return std::string();
        },
        ~std::size_t{0});
    while (started == 0) {
      std::this_thread::yield();
    }
  }
  EXPECT_LE(started.load(), 2);
}

} // namespace
} // namespace quillet
