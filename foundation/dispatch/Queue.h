#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace quenbril::dispatch {

class Queue;
using QueuePtr = std::shared_ptr<Queue>;
using Block = std::function<void()>;

/// A dispatch queue: blocks submitted to it run one after another (serial queues, the main queue)
/// or side by side (the global queue), never on the submitting thread except for sync().
///
/// - A serial queue runs its blocks in order on a thread of its own, or, when made with a target,
///   on the target (still one at a time). Blocks keep their queue alive: dropping the last
///   reference to a queue with work pending lets the work finish first.
/// - The main queue posts to RunLoop::main(); its blocks run on the main thread.
/// - The global queue runs blocks concurrently on a small pool (blocking look-ups and the like).
///
/// Queue-specific values mark a queue (and, through currentSpecific(), every queue that targets
/// it), so code can tell whether it already runs there.
class Queue : public std::enable_shared_from_this<Queue> {
  public:
    enum class Kind { Serial, Main, Global };

    /// A serial queue named `label` (also its thread's name), running on its own thread, or on
    /// `target` when one is given.
    static QueuePtr makeSerial(std::string label, QueuePtr target = nullptr);
    /// The main queue: blocks run on RunLoop::main()'s thread.
    static const QueuePtr& main();
    /// The global concurrent queue.
    static const QueuePtr& global();

    virtual ~Queue();
    Queue(const Queue&) = delete;
    Queue& operator=(const Queue&) = delete;

    Kind kind() const { return kind_; }
    const std::string& label() const { return label_; }
    const QueuePtr& target() const { return target_; }

    /// Submits `block` and returns at once.
    void async(Block block);
    /// Runs `block` on the queue and waits for it. When the caller already runs on this queue, or
    /// on a queue in its target chain (the main queue: on the main thread), the block runs at once
    /// in place: sync never deadlocks on the current queue.
    void sync(const Block& block);
    /// Runs `block` at once on the calling thread, in this queue's context, when that overtakes
    /// nothing: a serial queue with a thread of its own, idle and with nothing queued. Answers
    /// false, having run nothing, otherwise (then async() it). Saves a thread hop for work whose
    /// caller would otherwise wake the queue's thread.
    ///
    /// `brief`: the block is short and never waits for another thread. Then, when another
    /// thread runs a brief block here in place, the caller waits for it to end (often that thread
    /// was only preempted by this caller) instead of giving up, unless the caller itself runs
    /// inside a block in place or on a serial queue's thread (so no two threads wait on each
    /// other).
    virtual bool tryRunInPlace(const Block& block, bool brief = false);
    /// Submits `block` after `seconds`: of the run loop's clock when the queue runs on the main
    /// queue (virtual in tests), of real time otherwise.
    void after(double seconds, Block block);

    /// True when the calling code runs on this queue, or on a queue targeting it, or (main queue)
    /// on the main thread; also inside a sync() block that this queue's code is waiting for.
    bool isCurrent() const;
    /// True when blocks on this queue end up on the main queue (its timers use the run loop clock).
    bool runsOnMain() const;

    /// Stores `value` under `key` on this queue (nullptr removes it). Any thread.
    void setSpecific(const void* key, void* value);
    /// The value stored under `key` on this queue only.
    void* getSpecific(const void* key) const;
    /// The value under `key` of the queue the calling code runs on, else of its target, and so on
    /// down the chain; nullptr when none (or when not on a queue). On the main thread outside any
    /// block, the main queue counts as the current queue.
    static void* currentSpecific(const void* key);

  protected:
    Queue(Kind kind, std::string label, QueuePtr target);

    /// Hands a block (already wrapped to run in this queue's context) to the executor below.
    virtual void submit(Block wrapped) = 0;
    /// Runs `block` with this queue marked current on the calling thread.
    void runInContext(const Block& block, const void* syncCaller = nullptr);

  private:
    const Kind kind_;
    const std::string label_;
    const QueuePtr target_;
    mutable std::mutex specificsMutex_;
    std::map<const void*, void*> specifics_;
};

}  // namespace quenbril::dispatch
