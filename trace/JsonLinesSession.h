#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "trace/TraceBackend.h"

namespace vtx::trace {

// The tracing facility where there is no Windows event tracing: one listening session that
// appends every event as one JSON object per line to a file ("-" for standard error), with the
// level it enables. Without a destination nobody listens and the enabled level stays 0.
//
//   {"name":"PassThru","message":"****passThruOpen()**** -S-","level":5,"keyword":0,
//    "fields":[{"name":"lastError=","type":"u32","value":0}],"C":0,"T":4711}
class JsonLinesSession : public TraceBackend {
  public:
    JsonLinesSession(std::string destination, uint8_t sessionLevel);
    ~JsonLinesSession() override;

    bool registerProvider(std::string_view name, std::atomic<uint8_t>& enabledLevel) override;
    void unregisterProvider() override;
    void write(const TraceEvent& event) override;

    static std::string formatLine(const TraceEvent& event);

  private:
    void closeOutput();

    const std::string destination_;
    const uint8_t sessionLevel_;
    std::atomic<uint8_t>* enabledLevel_ = nullptr;  // set while registered
    std::mutex mutex_;                              // guards out_
    std::FILE* out_ = nullptr;
};

}  // namespace vtx::trace
