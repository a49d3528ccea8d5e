// Produces items 0, 1, 2, ... on worker threads and hands them to one consumer strictly in that
// order, so that whatever the consumer does with them comes out as in a run without workers. The
// workers start items in increasing order and only while what is held ahead of the consumer stays
// within a budget, in units the user picks (bytes, entries): memory is bounded by the budget, not
// by the number of items.
//
// Workers are plain threads. In a program that handles interrupts (Platform/Interruption.h) they
// start after it set that up, so they never take one: an interrupt ends the process while they
// work, without running any destructor. A producer must therefore leave nothing behind that an
// interrupt would have to clean up; the consumer does everything that shows.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace quillet {

template <typename Item> class OrderedPipeline {
public:
  // What a producer gets for the item it works on.
  class Task {
  public:
    std::size_t Index() const { return index_; }
    // Counts `amount` more against the budget until the consumer takes the item. False, counting
    // nothing, once the pipeline is stopping: the item will never be taken, so give up.
    bool Hold(std::size_t amount) {
      const std::lock_guard<std::mutex> lock(pipeline_.mutex_);
      if (pipeline_.stopping_) {
        return false;
      }
      pipeline_.held_ += amount;
      pipeline_.slots_[index_].held += amount;
      return true;
    }
    // Gives back part of what the item holds, content the producer dropped.
    void Release(std::size_t amount) {
      {
        const std::lock_guard<std::mutex> lock(pipeline_.mutex_);
        pipeline_.held_ -= amount;
        pipeline_.slots_[index_].held -= amount;
      }
      pipeline_.changed_.notify_all(); // room in the budget
    }

  private:
    friend class OrderedPipeline;
    Task(OrderedPipeline& pipeline, std::size_t index) : pipeline_(pipeline), index_(index) {}
    OrderedPipeline& pipeline_;
    const std::size_t index_;
  };
  using Producer = std::function<Item(Task&)>;

  // Starts up to `workers` threads for `count` items (fewer when the system refuses more). A worker
  // starts an item only while the pipeline holds less than `budget`; each item counts `startCost`
  // from its start, and what its producer Holds, until the consumer takes it.
  OrderedPipeline(std::size_t count, unsigned workers, Producer produce, std::size_t budget,
                  std::size_t startCost = 0)
      : produce_(std::move(produce)), budget_(budget), startCost_(startCost), slots_(count) {
    workers_.reserve(workers);
    for (unsigned i = 0; i < workers && i < count; ++i) {
      try {
        workers_.emplace_back([this] { Work(); });
      } catch (const std::system_error&) {
        break; // the workers started so far do the work
      }
    }
  }
  // Stops the workers, also in the middle of an item when its producer Holds, and waits for them.
  ~OrderedPipeline() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& worker : workers_) {
      worker.join();
    }
  }
  OrderedPipeline(const OrderedPipeline&) = delete;
  OrderedPipeline& operator=(const OrderedPipeline&) = delete;

  // False when no worker could be started; Take then produces each item itself.
  bool Active() const { return !workers_.empty(); }

  // Item `index`, waiting until it is ready; what its producer threw is thrown here instead.
  // Indexes are taken in increasing order, each once.
  Item Take(std::size_t index) {
    if (workers_.empty()) {
      Produce(index);
    }
    Slot& slot = slots_[index];
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return slot.ready; });
    held_ -= slot.held;
    std::optional<Item> item = std::move(slot.item);
    slot.item.reset();
    lock.unlock();
    changed_.notify_all(); // room in the budget
    if (slot.failure) {
      std::rethrow_exception(std::exchange(slot.failure, nullptr));
    }
    return std::move(*item);
  }

private:
  struct Slot {
    std::optional<Item> item;
    std::exception_ptr failure;
    std::size_t held = 0;
    bool ready = false;
  };

  void Work() {
    for (;;) {
      std::size_t index = 0;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return stopping_ || next_ >= slots_.size() || held_ < budget_; });
        if (stopping_ || next_ >= slots_.size()) {
          return;
        }
        index = next_++;
        // Counted before the lock is let go, so that no other worker starts beyond the budget.
        held_ += startCost_;
        slots_[index].held = startCost_;
      }
      Produce(index);
    }
  }

  // Runs the producer for one item and makes the result, or its failure, ready for Take.
  void Produce(std::size_t index) {
    Task task(*this, index);
    std::optional<Item> item;
    std::exception_ptr failure;
    try {
      item.emplace(produce_(task));
    } catch (...) {
      failure = std::current_exception();
    }
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      slots_[index].item = std::move(item);
      slots_[index].failure = std::move(failure); // no reference stays with the worker
      slots_[index].ready = true;
    }
    changed_.notify_all();
  }

  const Producer produce_;
  const std::size_t budget_;
  const std::size_t startCost_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Slot> slots_;
  std::size_t next_ = 0; // the next item a worker starts
  std::size_t held_ = 0; // counted against the budget: items started and not yet taken
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

} // namespace quillet
