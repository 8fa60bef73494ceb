#pragma once
// Laser channels.

class CLaser {
 public:
  // Reads this channel's keys of the main configuration and sets its output roles.
  void LoadConfig(int index, int bYLS, int topSoftWareControlYlrEnable);
};

// Channel 0, and channel 1 for the two-laser types.
extern CLaser g_Laser[2];
