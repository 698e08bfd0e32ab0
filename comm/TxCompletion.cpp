#include "comm/TxCompletion.h"

namespace vtx {

void TxCompletion::settle(const std::vector<std::shared_ptr<TxTicket>>& tickets, std::size_t sent,
                          Clock::time_point at) {
    for (std::size_t i = 0; i < tickets.size(); ++i) {
        if (!tickets[i]) {
            continue;
        }
        if (i < sent) {
            tickets[i]->creditSent(at);
        } else {
            tickets[i]->creditDiscarded();
        }
    }
    writesSettled_.fetch_add(1, std::memory_order_release);
    wake();
}

void TxCompletion::wake() {
    { const std::lock_guard lock(mutex_); }
    signal_.notify_all();
}

}  // namespace vtx
