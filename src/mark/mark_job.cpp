#include "mark/mark_job.h"

std::atomic<int32_t> nMarkState{0};
