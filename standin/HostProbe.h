// What a test can watch and steer in a stand-in host. A test that wants the
// logs attaches a probe it owns (StandinHost::probe); without one the host
// records nothing, so a long-lived host keeps no history.
#pragma once

#include <string>
#include <vector>

#include "standin/StandinHost.h"

namespace quorvex::standin {

struct EvalCall {
    std::string node;
    TimeValue time;
};

struct HostProbe {
    // Every EvalWorldState call, in order (node name and time).
    std::vector<EvalCall> evalLog;
    // Every progress call, in order.
    std::vector<ProgressCall> progressLog;
    // The number of GetTicksPerFrame calls.
    int ticksPerFrameCalls = 0;
    // When >= 0, PasteTrack copies at most this many keys.
    int pasteKeyLimit = -1;
};

}  // namespace quorvex::standin
