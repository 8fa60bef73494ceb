#pragma once
// State of the mark job. The job flow itself comes with the stream engine; the library's load sets
// the job idle.
#include <atomic>
#include <cstdint>

constexpr int32_t kMarkStateIdle = -3;
extern std::atomic<int32_t> nMarkState;
