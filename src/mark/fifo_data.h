#pragma once
// FIFO transfer of stream blocks to the card.

class CFifoData {
 public:
  // Reads the FIFO thresholds from the main configuration (bRead true) or takes the built-in
  // defaults.
  static void ReadBufferPara(bool bRead);
};
