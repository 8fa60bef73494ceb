#include "cardlink/card_locks.h"

plat::Lock g_csCardCmd;
plat::Lock g_csCardBuf;
