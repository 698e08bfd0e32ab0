// The calls that use a channel outside the call lock (a read or a timed write, while they
// wait). Whoever ends the channel (disconnect, close) first wakes them, then waits until every
// one has left before it takes away what they use.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace vtx {

class WaitingCalls {
  public:
    // Counts a call in for as long as it lives. The call enters holding the call lock and
    // leaves it released: counted in first, so that a disconnect or close, which takes that lock
    // before it waits for the calls inside, cannot miss this one and free the channel under it.
    class Entry {
      public:
        Entry(WaitingCalls& calls, std::unique_lock<std::mutex>& call);
        ~Entry() { calls_.leave(); }
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;

      private:
        WaitingCalls& calls_;
    };

    // Returns once no call is inside. Ends because the calls inside have been woken before
    // (their waits watch what ended them) and hold nothing the caller holds on their way out.
    void waitUntilEmpty();

  private:
    void enter();
    void leave();

    std::mutex mutex_;  // guards inside_
    std::condition_variable left_;
    std::size_t inside_ = 0;
};

}  // namespace vtx
