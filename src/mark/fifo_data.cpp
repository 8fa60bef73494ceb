#include "mark/fifo_data.h"

// The FIFO keys and their thresholds come with the FIFO transfer of the mark engine.
void CFifoData::ReadBufferPara(bool /*bRead*/) {}
