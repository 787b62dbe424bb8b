// The windows the page opens (the view's download window and its messages, the multi-file
// window), each on a UI thread of its own: the command service's threads never wait for a
// window, and CHECK_USER and the check-out replies go on while one is open. Bounded.
#pragma once
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

namespace edms {

class WindowThreads {
 public:
  static constexpr std::size_t kMaxWindowThreads = 4;

  WindowThreads();
  // CloseAll(kCloseBound): a transfer stalled in the network ends by its own time-outs.
  ~WindowThreads();
  WindowThreads(const WindowThreads&) = delete;
  WindowThreads& operator=(const WindowThreads&) = delete;

  // Runs `body` on a new thread with COM ready for the shell. False, and nothing run, when
  // kMaxWindowThreads are running or no thread could be made.
  bool Start(std::function<void()> body);

  // Closes what the threads still show (a running transfer is aborted first) and waits for
  // them; false when `bound` ran out first (the threads are left behind).
  bool CloseAll(std::chrono::milliseconds bound);

  std::size_t count() const;
  // Waits until no thread runs; false when `bound` ran out first.
  bool WaitNone(std::chrono::milliseconds bound) const;

 private:
  struct State;
  std::shared_ptr<State> state_;  // shared with the threads, which may outlive a failed close
};

}  // namespace edms
