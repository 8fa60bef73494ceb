#pragma once
// The link block at the head of the system parameters (SystemPara::CardLinkCfg), read from the
// configuration at card opening.
#include <cstdint>

// Fills g_SystemPara.CardLinkCfg at card opening; `slave` is the card's answer to the
// secondary-card query (0 when there is none).
void InitParaLink(int8_t slave);
