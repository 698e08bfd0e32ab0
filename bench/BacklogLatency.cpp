// How long calls that need the communication thread take behind a full transmit queue, and
// whether reception loses frames while a backlog drains. The library is linked in and runs
// against the simulated device, whose bus this program watches and feeds.
//
//   vtx_bench_backlog [RUNS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "api/Library.h"
#include "api/PassThruFunctions.h"
#include "base/J2534.h"
#include "comm/TransmitQueue.h"
#include "platform/DynamicLibrary.h"
#include "sim/SimWorld.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

PASSTHRU_MSG message(uint32_t id, uint32_t seq) {
    PASSTHRU_MSG msg{};
    msg.ProtocolID = CAN;
    msg.DataSize = 12;
    const uint8_t bytes[] = {static_cast<uint8_t>(id >> 24),  static_cast<uint8_t>(id >> 16),
                             static_cast<uint8_t>(id >> 8),   static_cast<uint8_t>(id),
                             static_cast<uint8_t>(seq >> 24), static_cast<uint8_t>(seq >> 16),
                             static_cast<uint8_t>(seq >> 8),  static_cast<uint8_t>(seq)};
    std::copy(std::begin(bytes), std::end(bytes), msg.Data);
    return msg;
}

// One session on a fresh simulated world whose bus runs at the channel's rate.
class Session {
  public:
    explicit Session(uint32_t baud) {
        vtx::platform::setEnvironment("VTXPTS_SIM_BUSRATE", std::to_string(baud).c_str());
        vtx::Library::onProcessAttach();
        ok_ = PassThruOpen(nullptr, &device_) == STATUS_NOERROR &&
              PassThruConnect(device_, CAN, 0, baud, &channel_) == STATUS_NOERROR;
    }
    ~Session() {
        if (open_) {
            PassThruClose(device_);
        }
        vtx::Library::onProcessDetach();
    }
    bool ok() const { return ok_; }
    uint32_t channel() const { return channel_; }
    uint32_t device() const { return device_; }
    void closed() { open_ = false; }

    // Writes without a timeout until the queue is full.
    void fillQueue() {
        std::vector<PASSTHRU_MSG> out(vtx::TransmitQueue::kLimit + 100, message(0x300, 0));
        auto count = static_cast<uint32_t>(out.size());
        PassThruWriteMsgs(channel_, out.data(), &count, 0);
    }

  private:
    uint32_t device_ = 0;
    uint32_t channel_ = 0;
    bool ok_ = false;
    bool open_ = true;
};

double millisecondsOf(const std::function<void()>& call) {
    const auto start = Clock::now();
    call();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Figures {
    std::vector<double> ms;
    void add(double value) { ms.push_back(value); }
    double median() {
        std::sort(ms.begin(), ms.end());
        return ms.empty() ? 0 : ms[ms.size() / 2];
    }
    double worst() const { return ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()); }
};

// Times one call, with an empty queue or behind a full one.
void timeCall(const char* name, uint32_t baud, bool backlog, int runs) {
    Figures figures;
    for (int run = 0; run < runs; ++run) {
        Session session(baud);
        if (!session.ok()) {
            std::printf("%s: could not open\n", name);
            return;
        }
        if (backlog) {
            session.fillQueue();
            std::this_thread::sleep_for(50ms);  // the thread is now draining at bus speed
        }
        SCONFIG loopback{LOOPBACK, 0};
        SCONFIG_LIST config{1, &loopback};
        const std::string call = name;
        figures.add(millisecondsOf([&] {
            if (call == "GET_CONFIG") {
                PassThruIoctl(session.channel(), GET_CONFIG, &config, nullptr);
            } else if (call == "CLEAR_TX_BUFFER") {
                PassThruIoctl(session.channel(), CLEAR_TX_BUFFER, nullptr, nullptr);
            } else {
                PassThruClose(session.device());
                session.closed();
            }
        }));
    }
    std::printf("%-16s %5u kbit/s  %-8s median %7.1f ms  worst %7.1f ms\n", name, baud / 1000,
                backlog ? "backlog" : "idle", figures.median(), figures.worst());
}

// Frames arriving at about 2000 a second while three queues' worth of frames drain.
void receiveWhileDraining(uint32_t baud) {
    Session session(baud);
    PASSTHRU_MSG mask = message(0x7FF, 0);
    PASSTHRU_MSG pattern = message(0x100, 0);
    mask.DataSize = pattern.DataSize = 4;
    uint32_t filter = 0;
    PassThruStartMsgFilter(session.channel(), PASS_FILTER, &mask, &pattern, nullptr, &filter);
    constexpr uint32_t kTraffic = 6000;
    const uint32_t backlog = 3 * vtx::TransmitQueue::kLimit;
    std::thread injector([] {
        for (uint32_t seq = 0; seq < kTraffic;) {
            for (int i = 0; i < 20 && seq < kTraffic; ++i, ++seq) {
                vtx::sim::CanFrame frame{};
                frame.id = 0x100;
                frame.dlc = 4;
                frame.data = {static_cast<uint8_t>(seq >> 24), static_cast<uint8_t>(seq >> 16),
                              static_cast<uint8_t>(seq >> 8), static_cast<uint8_t>(seq)};
                vtx::sim::SimWorld::process().control().injectFrame(frame);
            }
            std::this_thread::sleep_for(10ms);
        }
    });
    std::vector<PASSTHRU_MSG> out;
    for (uint32_t seq = 0; seq < backlog; ++seq) {
        out.push_back(message(0x300, seq));
    }
    uint32_t written = 0;
    uint32_t received = 0;
    uint32_t gaps = 0;
    const auto start = Clock::now();
    while ((written < backlog || received < kTraffic) && Clock::now() - start < 60s) {
        uint32_t count = backlog - written;
        if (count > 0) {
            PassThruWriteMsgs(session.channel(), out.data() + written, &count, 0);
            written += count;
        }
        PASSTHRU_MSG in[64];
        uint32_t got = 64;
        PassThruReadMsgs(session.channel(), in, &got, 5);
        for (uint32_t i = 0; i < got; ++i) {
            const uint32_t seq = static_cast<uint32_t>(in[i].Data[4]) << 24 |
                                 static_cast<uint32_t>(in[i].Data[5]) << 16 |
                                 static_cast<uint32_t>(in[i].Data[6]) << 8 | in[i].Data[7];
            gaps += seq != received;
            received = seq + 1;
        }
    }
    injector.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf(
        "receive while draining %u frames at %u kbit/s: %u of %u received, %u gaps, "
        "%llu overflowed in the device, %.1f s\n",
        backlog, baud / 1000, received, kTraffic, gaps,
        static_cast<unsigned long long>(
            vtx::sim::SimWorld::process().control().deviceState().controller.overflowedFrames),
        seconds);
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    vtx::platform::setEnvironment("VTXPTS_DEVICE", "sim");
    for (const uint32_t baud : {125000u, 500000u, 1000000u}) {
        for (const char* call : {"GET_CONFIG", "CLEAR_TX_BUFFER", "PassThruClose"}) {
            timeCall(call, baud, false, runs);
            timeCall(call, baud, true, runs);
        }
    }
    receiveWhileDraining(500000);
    return 0;
}
