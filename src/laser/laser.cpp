#include "laser/laser.h"

CLaser g_Laser[2];

// The channel keys and output roles come with the laser control subsystem.
void CLaser::LoadConfig(int /*index*/, int /*bYLS*/, int /*topSoftWareControlYlrEnable*/) {}
