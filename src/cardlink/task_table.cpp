#include "cardlink/task_table.h"

namespace {

// The two ways a task is built: with no checks, or as a card task (card, sync and init checks).
TaskInfo Plain(const char* name) { return TaskInfo{name, 0, 0, 0, 0, 0}; }
TaskInfo CardTask(const char* name) { return TaskInfo{name, 1, 0, 0, 1, 1}; }

std::map<uint32_t, TaskInfo> BuildTaskTable() {
  std::map<uint32_t, TaskInfo> t;
  t[TASK_ONLINE_MARKING] = CardTask("OnLine Marking...");
  t[TASK_ONLINE_MARKING].bCheckAlarm = 1;
  t[TASK_OFFLINE_MARKING] = CardTask("OffLine Marking...");
  t[TASK_OFFLINE_MARKING].bCheckAlarm = 1;
  t[TASK_CARD_OPENING] = Plain("Card Opening...");
  t[TASK_CARD_CLOSING] = Plain("Card Closing...");
  t[TASK_GET_CARDS_NO] = Plain("GetCardsNo...");
  t[TASK_CARD_INITIALIZING] = CardTask("Card Initializing...");
  t[TASK_CARD_INITIALIZING].bQuiet = 1;
  t[TASK_CARD_INITIALIZING].bNeedInit = 0;
  t[TASK_OFFLINE_MODE] = CardTask("OffLineMode going...");
  t[TASK_OFFLINE_MODE].bNeedInit = 0;
  t[TASK_BOXFILE_SAVING] = CardTask("BoxFile Saving...");
  t[TASK_PAGE_DOWN] = CardTask("Page Down...");
  t[TASK_PAGE_UP] = CardTask("Page Up...");
  t[TASK_FILEHEADER_DOWN] = CardTask("FileHeader Down...");
  t[TASK_FILEHEADER_UP] = CardTask("FileHeader Up...");
  t[TASK_FILE_DOWN] = CardTask("File Down...");
  t[TASK_CARD_FLASH_RESET] = CardTask("Card Flash Reset...");
  t[TASK_TEST_SPEED] = CardTask("testSpeed...");
  return t;
}

}  // namespace

const std::map<uint32_t, TaskInfo> g_mapTask = BuildTaskTable();

const char* TaskName(uint32_t id) {
  auto it = g_mapTask.find(id);
  return it == g_mapTask.end() ? nullptr : it->second.name.c_str();
}
