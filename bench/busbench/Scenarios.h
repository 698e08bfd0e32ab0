// The scenarios busbench measures, each on a fresh session through the fourteen functions.
// Every one returns the figures of one run; an empty set when the session could not be set up.
#pragma once

#include <cstdint>
#include <string>

#include "bench/busbench/Figures.h"

namespace busbench {

// 8-byte frames with an 11-bit identifier take 111 bits without stuff bits: at 1 Mbit/s at most
// 9009 of them cross the bus in a second.
inline constexpr double kFullBusFramesPerSecond = 1e6 / 111.0;

// A full 1 Mbit/s bus (the traffic generator at "max"), one reader taking batches of 64 with a
// 10 ms timeout. traceFile: where the trace goes, empty for no tracing.
Figures measureReceive(double seconds, const std::string& traceFile);

// The application writes batches of 10 frames at 1 Mbit/s as fast as the library takes them.
// timeoutMs 0: queued without waiting, and 1 ms pause when the queue is full; otherwise each
// write waits that long for its frames to go out.
Figures measureTransmit(double seconds, uint32_t timeoutMs);

// The device open, one channel at 500 kbit/s with its pass filter, nothing on the bus.
Figures measureIdle(double seconds);

// On a quiet bus: a configuration call (GET_CONFIG, which the communication thread runs as a
// command) and a one-frame write that waits up to 100 ms for its frame to go out, at random gaps
// of 5 to 100 ms; how long each call takes.
Figures measureCalls(double seconds, uint32_t seed);

// Three application threads on a quiet bus: one waits in PassThruReadMsgs (timeout 2000 ms) on
// the CAN channel the whole time, one writes a frame on that channel with a 100 ms timeout and
// one calls GET_CONFIG on an ISO15765 channel, each at random gaps of 5 to 20 ms; how long each
// write and GET_CONFIG takes beside the waiting read.
Figures measureThreads(double seconds, uint32_t seed);

// Requests the device answers, on a quiet bus: GET_TERM_RESISTOR at random gaps of 5 to 40 ms,
// and PassThruClose 5 to 40 ms after the channel connected; each with the channel's pass filter
// (so that a wait for the next frame is under way) and without one (nothing waits). How long
// each call takes, and how much the wait adds at the 99th percentile.
Figures measureReplies(double seconds, uint32_t seed);

// Single frames injected at 500 kbit/s at random gaps of 1 to 9 ms, a reader blocked in
// PassThruReadMsgs for one message at a time: the bus's end of frame to the call's return.
// Then `silences` frames, each after 1 s of silence.
Figures measureLatency(double seconds, int silences, uint32_t seed);

}  // namespace busbench
