#pragma once

#include <cstdint>

#include "platform/deploy/clock.h"
#include "platform/status.h"

// Tries again every `step` milliseconds while `held(status)` says another
// program holds the file, for `limit` milliseconds at most; gives the last
// attempt's status.
template <typename Attempt, typename Held>
PlatformStatus try_while_held(Attempt attempt, Held held, uint32_t limit, uint32_t step) {
    for (uint32_t waited = 0;; waited += step) {
        const PlatformStatus status = attempt();
        if (!held(status) || waited >= limit) return status;
        sleep_milliseconds(step);
    }
}
