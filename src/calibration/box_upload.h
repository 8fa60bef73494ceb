#pragma once
// The upload of the two correction tables to the card's flash (CScan::SendBoxTables, scan.h).
//
// Each table goes to the card as a flash image: the old box method's fast table (264196 bytes) at
// the start of 130 pages, the new method's 65 x 65 table (33800 bytes) at the start of 17 pages;
// zeros behind it and 0xA5 in the image's last byte. The new method also tells the card the scale
// of its codes first (card command 2 with 65536 / (2R) x 8192 in both parameters).
#include <cstddef>
#include <cstdint>

constexpr size_t kBoxTableBufferBytes = 530432;  // each image is built in a zeroed buffer of this size
constexpr uint32_t kOldBoxTablePages = 130;
constexpr uint32_t kNewBoxTablePages = 17;

// The module that builds the tables of the method in force is loaded. Without it no table is ever
// sent: SendBoxTables refuses with 11, and the card parameter upload skips its table step.
bool BoxTablesModuleLoaded();

// The scale word of the new method's codes for half range R: 65536 / (2R) x 8192, truncated.
uint32_t BoxTableScaleWord(double halfRange);

// The card's side of the upload: writes `pageCount` pages of each image to the flash areas of
// correction table 0 and 1 (compare first, rewrite only what differs) and commits the areas when a
// page was rewritten. 0 when done, otherwise the failure's code.
uint32_t WriteBoxTableAreas(const uint8_t* image0, const uint8_t* image1, uint32_t pageCount);
