// A class with a lock the table below does not list.
#include <condition_variable>
#include <mutex>

class Added {
    std::mutex listedMutex_;
    std::condition_variable unlisted_;
};
