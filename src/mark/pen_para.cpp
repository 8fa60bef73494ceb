#include "mark/pen_para.h"

PenPara g_PenPara[kPenCount];
LaserTimingPara g_LaserTimingPara[kLaserChannels][kPenCount];
PenParaPlus g_PenParaPlus[kPenCount];
