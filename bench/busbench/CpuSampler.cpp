#include "bench/busbench/CpuSampler.h"

#include <pthread.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace busbench {

namespace {

double processCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double contextSwitchesSoFar() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_nvcsw + usage.ru_nivcsw);
}

std::string firstLineOf(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

bool startsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

}  // namespace

void nameApplicationThread(const char* name) {
    const std::string full = std::string("app-") + name;
    pthread_setname_np(pthread_self(), full.substr(0, 15).c_str());
    TransportMeter::markApplicationThread();
}

void CpuSampler::start() {
    begin_ = take();
}

CpuShares CpuSampler::stop() const {
    const Snapshot end = take();
    CpuShares shares;
    shares.wallSeconds = std::chrono::duration<double>(end.wall - begin_.wall).count();
    shares.processSeconds = end.processSeconds - begin_.processSeconds;
    shares.contextSwitches = end.contextSwitches - begin_.contextSwitches;
    double attributed = 0;
    for (const auto& [tid, thread] : end.threads) {
        const auto before = begin_.threads.find(tid);
        const double spent =
            thread.seconds - (before != begin_.threads.end() ? before->second.seconds : 0);
        attributed += spent;
        if (startsWith(thread.name, "sim-")) {
            shares.simulatorSeconds += spent;
        } else if (startsWith(thread.name, "app-")) {
            shares.applicationSeconds += spent;
        } else {
            shares.librarySeconds += spent;
        }
    }
    // What threads that ended in the interval spent is in the process's total only.
    shares.librarySeconds += std::max(0.0, shares.processSeconds - attributed);
    moveTransportTime(begin_.transport, end.transport, shares);
    return shares;
}

void CpuSampler::moveTransportTime(const TransportTotals& before, const TransportTotals& after,
                                   CpuShares& shares) {
    const double library = after.libraryThreadSeconds - before.libraryThreadSeconds;
    const double application = after.applicationThreadSeconds - before.applicationThreadSeconds;
    shares.librarySeconds -= library;
    shares.applicationSeconds -= application;
    shares.simulatorSeconds += library + application;
    shares.transfers = static_cast<double>(after.transfers - before.transfers);
}

CpuSampler::Snapshot CpuSampler::take() {
    Snapshot snapshot;
    snapshot.transport = TransportMeter::totals();
    snapshot.threads = readThreads();
    snapshot.processSeconds = processCpuSeconds();
    snapshot.contextSwitches = contextSwitchesSoFar();
    snapshot.wall = std::chrono::steady_clock::now();
    return snapshot;
}

std::map<int, CpuSampler::ThreadTime> CpuSampler::readThreads() {
    std::map<int, ThreadTime> threads;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", error)) {
        const std::string folder = entry.path().string();
        const int tid = std::atoi(entry.path().filename().c_str());
        threads[tid] = ThreadTime{firstLineOf(folder + "/comm"), threadSeconds(folder)};
    }
    return threads;
}

// The scheduler's nanosecond count where the kernel keeps it; otherwise user and system time
// in clock ticks from stat (fields 14 and 15, counted after the name's closing parenthesis).
double CpuSampler::threadSeconds(const std::string& taskFolder) {
    std::ifstream schedstat(taskFolder + "/schedstat");
    unsigned long long nanoseconds = 0;
    if (schedstat >> nanoseconds) {
        return static_cast<double>(nanoseconds) * 1e-9;
    }
    const std::string stat = firstLineOf(taskFolder + "/stat");
    const std::size_t nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos) {
        return 0;
    }
    std::istringstream fields(stat.substr(nameEnd + 2));
    std::string field;
    unsigned long long userTicks = 0;
    unsigned long long systemTicks = 0;
    for (int index = 3; index <= 13 && fields >> field; ++index) {
    }
    fields >> userTicks >> systemTicks;
    return static_cast<double>(userTicks + systemTicks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace busbench
