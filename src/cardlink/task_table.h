#pragma once
// The library-wide tasks: their ids, display names and the checks each one needs at its start and
// end. The claim and release of a task come with the card control.
#include <cstdint>
#include <map>
#include <string>

enum TaskId : uint32_t {
  TASK_ONLINE_MARKING = 1,
  TASK_OFFLINE_MARKING = 2,
  TASK_CARD_OPENING = 3,
  TASK_CARD_CLOSING = 4,
  TASK_GET_CARDS_NO = 5,
  TASK_CARD_INITIALIZING = 6,
  TASK_OFFLINE_MODE = 7,
  TASK_BOXFILE_SAVING = 8,
  TASK_PAGE_DOWN = 9,
  TASK_PAGE_UP = 10,
  TASK_FILEHEADER_DOWN = 11,
  TASK_FILEHEADER_UP = 12,
  TASK_FILE_DOWN = 13,
  TASK_CARD_FLASH_RESET = 14,
  TASK_TEST_SPEED = 15,
};

struct TaskInfo {
  std::string name;        // display name used in every message
  uint8_t bCheckCard = 0;  // card connected and idle at start; task id registered; idle at the end
  uint8_t bQuiet = 0;      // refusals of the card checks go to the daily log only
  uint8_t bCheckAlarm = 0; // the alarm question at start and end
  uint8_t bNeedSync = 0;   // refused while the library is not synchronised with the card
  uint8_t bNeedInit = 0;   // refused while the card parameters are not accepted
};

// Filled when the library loads; never changed afterwards.
extern const std::map<uint32_t, TaskInfo> g_mapTask;

// The task's display name; nullptr for an id outside the table.
const char* TaskName(uint32_t id);
