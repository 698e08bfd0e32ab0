// Where the process's CPU time went between two moments: the whole process, and each thread's
// share sorted by the thread's name. Threads named "sim-..." are the simulated device's,
// "app-..." the benchmark's own (the application calling the fourteen functions); every other
// thread is the library's, except for the time library threads spend inside the simulated
// device's transport (TransportMeter), which is the simulator's. Linux only: it reads
// /proc/self/task.
#pragma once

#include <chrono>
#include <map>
#include <string>

#include "bench/busbench/TransportMeter.h"

namespace busbench {

// Names the calling thread "app-..." (name is the part after the dash) and marks it as this
// program's for the transport's meter.
void nameApplicationThread(const char* name);

// CPU seconds spent in one measured interval, and what else the interval cost.
struct CpuShares {
    double wallSeconds = 0;
    double processSeconds = 0;      // every thread, ended ones included
    double librarySeconds = 0;      // library threads, and threads that ended in the interval
    double simulatorSeconds = 0;    // threads named "sim-...", and every thread's transport calls
    double applicationSeconds = 0;  // threads named "app-..."
    double contextSwitches = 0;     // voluntary and involuntary, every thread
    double transfers = 0;           // on either pipe of the simulated device

    double percentOfCore(double seconds) const {
        return wallSeconds > 0 ? 100.0 * seconds / wallSeconds : 0;
    }
};

class CpuSampler {
  public:
    // Takes the starting snapshot.
    void start();
    // The shares from start() to now.
    CpuShares stop() const;

  private:
    struct ThreadTime {
        std::string name;
        double seconds = 0;
    };
    struct Snapshot {
        std::chrono::steady_clock::time_point wall;
        double processSeconds = 0;
        double contextSwitches = 0;
        std::map<int, ThreadTime> threads;  // by thread id
        TransportTotals transport;
    };

    static Snapshot take();
    static std::map<int, ThreadTime> readThreads();
    static double threadSeconds(const std::string& taskFolder);
    static void moveTransportTime(const TransportTotals& before, const TransportTotals& after,
                                  CpuShares& shares);

    Snapshot begin_;
};

}  // namespace busbench
