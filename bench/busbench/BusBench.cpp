// busbench: the library through the fourteen functions against the simulated device, linked
// into this program so that it can watch and feed the simulated bus. One line per scenario
// with the median of each figure over the runs, and "met" or "MISSED" for each of the targets.
//
//   busbench [RUNS] [SECONDS] [SCENARIO] [DEVICE]
// Default 3 runs of 5 s per scenario; SCENARIO runs only those whose name starts with it
// ("idle", "latency", "rx", "rx traced", "tx", ...; empty: all); DEVICE is the device path, sim
// (the WinUSB family, default) or sim-kernel (the kernel-driver family).
//
// busbench-ulong is the same program built as a program of the standard header's `unsigned
// long` (VTXPTS_ULONG) and linked with the unsigned-long exports instead of the 32-bit ones: its
// calls pass 8-byte integers and 4176-byte messages, which the exports narrow for the core and
// widen back, as libvtxpts-ulong.so does.
//
// CPU time is split by thread name: "sim-..." is the simulated device, "app-..." this
// program's own threads (calling the fourteen functions, so mostly the library's read and write
// paths), everything else the library; the time any thread spends inside the simulated
// device's transport is the simulator's (TransportMeter). Per-frame library figures count
// both the library's threads and the calling thread ("lib+app"); the simulator's share is the
// test double's and says nothing about the library. "xfer" counts transfers on the device's
// pipes: on hardware each costs a USB round trip and the host's USB stack. Latency runs from a
// frame's end on the bus; "bus lag" is how late the simulated bus handed the frame to the
// device, which is part of it and is the simulator's, not the library's.
#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench/busbench/BenchSession.h"
#include "bench/busbench/CpuSampler.h"
#include "bench/busbench/Figures.h"
#include "bench/busbench/ReportLine.h"
#include "bench/busbench/Scenarios.h"
#include "bench/busbench/TransportMeter.h"
#include "platform/DynamicLibrary.h"

namespace {

using busbench::Figures;
using busbench::programName;
using busbench::ReportLine;

struct Options {
    int runs = 3;
    double seconds = 5;
    std::string only;            // run only the scenarios whose name starts with this
    std::string device = "sim";  // the device path: sim (WinUSB family) or sim-kernel

    bool wants(const char* scenario) const { return std::string(scenario).rfind(only, 0) == 0; }
};

Options parseOptions(int argc, char** argv) {
    Options options;
    if (argc > 1) {
        options.runs = std::max(1, std::atoi(argv[1]));
    }
    if (argc > 2) {
        options.seconds = std::max(0.5, std::atof(argv[2]));
    }
    if (argc > 3) {
        options.only = argv[3];
    }
    if (argc > 4) {
        options.device = argv[4];
    }
    return options;
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

Figures medianOfRuns(int runs, const std::function<Figures(int)>& runOnce) {
    std::vector<Figures> all;
    for (int run = 0; run < runs; ++run) {
        Figures figures = runOnce(run);
        if (figures.empty()) {
            return {};
        }
        all.push_back(std::move(figures));
    }
    return busbench::medianOf(all);
}

// The "samples" figure as text: how many measurements each run took.
std::string samplesPerRun(const Figures& figures) {
    const auto found = figures.find("samples");
    return std::to_string(found == figures.end() ? 0 : static_cast<int>(found->second));
}

bool printIdle(const Options& options) {
    return ReportLine("idle",
                      medianOfRuns(options.runs,
                                   [&](int) { return busbench::measureIdle(options.seconds); }))
        .target("cpu %", "cpu%", "%.2f", 0.5)
        .value("csw/s", "csw/s", "%.0f")
        .value("xfer/s", "xfer/s", "%.0f")
        .value("lib %", "lib%", "%.2f")
        .value("sim %", "sim%", "%.2f")
        .value("app %", "app%", "%.2f")
        .print();
}

bool printLatency(const Options& options, int silences) {
    const Figures figures = medianOfRuns(options.runs, [&](int run) {
        return busbench::measureLatency(options.seconds, silences, static_cast<uint32_t>(run + 1));
    });
    return ReportLine("latency", figures)
        .target("p50 ms", "p50 ms", "%.3f", 0.4)
        .target("p99 ms", "p99 ms", "%.3f", 1.5)
        .value("max ms", "max ms", "%.3f")
        .target("after 1 s silence p99 ms", "silence p99 ms", "%.3f", 2.0)
        .value("lost", "lost", "%.0f")
        .value("(bus lag p50", "bus lag p50 ms", "%.3f")
        .value("p99", "bus lag p99 ms", "%.3f;")
        .value("device got it -> return p50", "delivered p50 ms", "%.3f")
        .value("p99", "delivered p99 ms", "%.3f)")
        .value("cpu %", "cpu%", "%.2f")
        .value("xfer/s", "xfer/s", "%.0f")
        .note("(" + samplesPerRun(figures) + " samples/run; silence p99 is the worst of " +
              std::to_string(silences) + ")")
        .print();
}

bool printCalls(const Options& options) {
    const Figures figures = medianOfRuns(options.runs, [&](int run) {
        return busbench::measureCalls(options.seconds, static_cast<uint32_t>(run + 1));
    });
    return ReportLine("calls", figures)
        .value("GET_CONFIG p50 ms", "ioctl p50 ms", "%.3f")
        .value("p99", "ioctl p99 ms", "%.3f")
        .value("max", "ioctl max ms", "%.3f")
        .value(" write 1 frame p50 ms", "write p50 ms", "%.3f")
        .value("p99", "write p99 ms", "%.3f")
        .note("(" + samplesPerRun(figures) + " of each/run)")
        .print();
}

bool printThreads(const Options& options) {
    const Figures figures = medianOfRuns(options.runs, [&](int run) {
        return busbench::measureThreads(options.seconds, static_cast<uint32_t>(run + 1));
    });
    return ReportLine("threads", figures)
        .value("beside a waiting read: write 1 frame p50 ms", "write p50 ms", "%.3f")
        .target("p99", "write p99 ms", "%.3f", 1.0)
        .value(" GET_CONFIG p50 ms", "ioctl p50 ms", "%.3f")
        .target("p99", "ioctl p99 ms", "%.3f", 1.0)
        .value("reads returned", "reads", "%.0f")
        .note("(" + samplesPerRun(figures) + " of each/run)")
        .print();
}

bool printReplies(const Options& options) {
    const Figures figures = medianOfRuns(options.runs, [&](int run) {
        return busbench::measureReplies(options.seconds, static_cast<uint32_t>(run + 1));
    });
    return ReportLine("replies", figures)
        .value("GET_TERM_RESISTOR beside a frame wait p50 ms", "term waiting p50 ms", "%.3f")
        .value("p99", "term waiting p99 ms", "%.3f")
        .value("(without p99", "term quiet p99 ms", "%.3f)")
        .target("added p99", "term added p99 ms", "%.3f", 2.0)
        .value(" Close beside a frame wait p99 ms", "close waiting p99 ms", "%.3f")
        .value("(without", "close quiet p99 ms", "%.3f)")
        .target("added p99", "close added p99 ms", "%.3f", 2.0)
        .note("(" + samplesPerRun(figures) + " GET_TERM_RESISTOR and 20 Close of each/run)")
        .print();
}

bool printReceive(const char* name, const Options& options, const std::string& traceFile,
                  bool withTargets) {
    const Figures figures = medianOfRuns(options.runs, [&](int) {
        Figures run = busbench::measureReceive(options.seconds, traceFile);
        if (!traceFile.empty()) {
            std::ifstream trace(traceFile, std::ios::ate | std::ios::binary);
            // The trace covers the warm-up and the settling time too, half a second.
            run["trace MB/s"] = static_cast<double>(trace.tellg()) / 1e6 / (options.seconds + 0.5);
            std::remove(traceFile.c_str());
        }
        return run;
    });
    ReportLine line(name, figures);
    line.value("ratio", "ratio", "%.3f").value("(bus", "bus ratio", "%.3f)");
    line.value("lost", "lost", "%.0f");
    if (withTargets) {
        line.target("cpu %", "cpu%", "%.1f", 15).target("lib+app us/fr", "lib+app/fr", "%.2f", 2);
    } else {
        line.value("cpu %", "cpu%", "%.1f").value("lib+app us/fr", "lib+app/fr", "%.2f");
    }
    line.value("(app", "app/fr", "%.2f)").value("sim us/fr", "sim/fr", "%.2f");
    line.value("xfer/fr", "xfer/fr", "%.3f").value("frames/read", "frames/read", "%.1f");
    line.value("csw/s", "csw/s", "%.0f");
    line.value("dev overflow", "dev overflow", "%.0f");
    if (!traceFile.empty()) {
        line.value("trace MB/s", "trace MB/s", "%.1f");
    }
    return line.print();
}

bool printTransmit(const char* name, const Options& options, uint32_t timeoutMs) {
    return ReportLine(name, medianOfRuns(options.runs,
                                         [&](int) {
                                             return busbench::measureTransmit(options.seconds,
                                                                              timeoutMs);
                                         }))
        .value("ratio", "ratio", "%.3f")
        .value("lost", "lost", "%.0f")
        .value("cpu %", "cpu%", "%.1f")
        .value("lib+app us/fr", "lib+app/fr", "%.2f")
        .value("(app", "app/fr", "%.2f)")
        .value("sim us/fr", "sim/fr", "%.2f")
        .value("xfer/fr", "xfer/fr", "%.3f")
        .value("csw/s", "csw/s", "%.0f")
        .print();
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parseOptions(argc, argv);
    if (options.device != "sim" && options.device != "sim-kernel") {
        std::fprintf(stderr, "%s: DEVICE is sim or sim-kernel, not %s\n", programName(),
                     options.device.c_str());
        return 2;
    }
    vtx::platform::setEnvironment("VTXPTS_DEVICE", options.device.c_str());
    busbench::nameApplicationThread("main");
    busbench::TransportMeter::calibrate();
    const std::string traceFile = "/tmp/busbench-trace-" + std::to_string(getpid()) + ".jsonl";
    std::printf(
        "%s: device %s; median of %d runs of %.1f s; full bus = 1 Mbit/s, 8-byte 11-bit "
        "frames, %.0f frames/s; load average %s\n",
        programName(), options.device.c_str(), options.runs, options.seconds,
        busbench::kFullBusFramesPerSecond, loadAverage().c_str());
    std::fflush(stdout);
    bool met = true;
    if (options.wants("idle")) {
        met = printIdle(options) && met;
    }
    if (options.wants("latency")) {
        met = printLatency(options, 5) && met;
    }
    if (options.wants("calls")) {
        met = printCalls(options) && met;
    }
    if (options.wants("threads")) {
        met = printThreads(options) && met;
    }
    if (options.wants("replies")) {
        met = printReplies(options) && met;
    }
    if (options.wants("rx full bus")) {
        met = printReceive("rx full bus", options, "", true) && met;
    }
    if (options.wants("rx traced")) {
        met = printReceive("rx traced", options, traceFile, false) && met;
    }
    if (options.wants("tx queued")) {
        met = printTransmit("tx queued", options, 0) && met;
    }
    if (options.wants("tx wait")) {
        met = printTransmit("tx wait 100ms", options, 100) && met;
    }
    std::printf("%s: load average %s\n", programName(), loadAverage().c_str());
    return met ? 0 : 1;
}
