#pragma once
// The card parameter file, wired across the subsystems (QZ_SetCardParaFile's body and the upload).
#include <cstdint>

#include "cardlink/card_cmd.h"

// The whole card-parameter list: the card link's packets, then the fly parameter commands.
void BuildCardParaList(CmdBatch& batch);
// The upload of the card parameters into the card's flash with this library's steps (the
// correction tables of the box method in force, the list above, the parameter job in mode 2):
// 0 or the code of a failure that ended it; card and flash failures throw.
uint32_t FlushCardParaBlocks();
// Applies the configuration to the open card; the parameters are accepted at its end unless a
// check refused them or the upload failed. Throws the card's and the flash's failures.
void SetCardParaFile();
