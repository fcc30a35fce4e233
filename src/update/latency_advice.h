#pragma once
// What the adapter's latency cost an update, and what the technician can do about it.
#include <string>

#include "link/ack_timing.h"
#include "port/adapter_latency.h"

namespace cvm6 {

// "Adapter latency: 16.4 ms a block beyond the line's own time (median of 2785
// acknowledgements), 45.7 s in all." Empty when no acknowledgement was timed.
std::string AckTimingText(const CAckTiming& timing);

// When the median is above CAckTiming::kSlowAdapterMs: what the delay cost, and what to
// set where, from what the system shows of the adapter (`adapter`). Empty otherwise.
std::string SlowAdapterAdvice(const CAckTiming& timing, const AdapterLatency& adapter);

}  // namespace cvm6
