// A pipe transport that records every write and answers reads from a script, for packet-level
// tests of the protocol.
#pragma once

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "platform/PipeTransport.h"

namespace vtx::test {

class ScriptedPipeTransport : public PipeTransport {
  public:
    using Bytes = std::vector<uint8_t>;

    std::vector<std::string> enumerateDevicePaths() override {
        return present ? std::vector<std::string>{"\\\\?\\usb#scripted"}
                       : std::vector<std::string>{};
    }
    bool isDevicePresent() override { return present; }
    bool open(const std::string&) override {
        open_ = present;
        return open_;
    }
    bool setInPipeTimeout(uint32_t) override { return pipePolicyAccepted; }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    int writePipe(const uint8_t* bytes, int length) override {
        writes.emplace_back(bytes, bytes + length);
        return std::min(length, writeLimit);
    }
    int readPipe(uint8_t* bytes, int length) override {
        ++reads;
        if (replies.empty()) {
            return 0;
        }
        Bytes reply = std::move(replies.front());
        replies.pop_front();
        const int n = std::min(length, static_cast<int>(reply.size()));
        std::copy(reply.begin(), reply.begin() + n, bytes);
        return n;
    }

    // Every 16-byte packet written, in order, transfer headers included.
    std::vector<Bytes> packets() const {
        std::vector<Bytes> out;
        for (const Bytes& w : writes) {
            for (std::size_t i = 0; i + 16 <= w.size(); i += 16) {
                out.emplace_back(w.begin() + static_cast<long>(i),
                                 w.begin() + static_cast<long>(i) + 16);
            }
        }
        return out;
    }

    bool present = true;
    bool pipePolicyAccepted = true;
    int writeLimit = 1 << 30;
    std::deque<Bytes> replies;
    std::vector<Bytes> writes;
    int reads = 0;

  private:
    bool open_ = false;
};

// A 16-byte packet with the given leading bytes.
inline std::vector<uint8_t> packetOf(std::initializer_list<uint8_t> lead) {
    std::vector<uint8_t> p(16, 0);
    std::copy(lead.begin(), lead.end(), p.begin());
    return p;
}

}  // namespace vtx::test
