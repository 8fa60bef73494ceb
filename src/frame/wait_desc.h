#pragma once
// Named waits: the conditions a card can wait on, by name.
//
// The stream builders look a name up to get the mask and expected value of a named wait, and the
// card-status text names the wait a stopped card was waiting for. Kinds: 1 an input condition,
// 2 a motor position, 3 an encoder position, 4 a platform condition, 5 an optical-switch or UART
// condition.
//
// Readers run on other threads (the monitor), so the table is never changed in place: each change
// builds a new table and publishes it with one pointer swap under a small lock. A reader takes a
// snapshot (or looks one name up) and always sees a whole table. The lock is a leaf: nothing is
// taken inside it. Writers (the parameter-file read) run one at a time inside library tasks.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

struct WaitDesc {
  uint32_t kind;
  uint32_t mask;
  uint32_t value;
};

using WaitDescMap = std::map<std::string, WaitDesc>;

class WaitDescTable {
 public:
  WaitDescTable();
  WaitDescTable(const WaitDescTable&) = delete;
  WaitDescTable& operator=(const WaitDescTable&) = delete;

  // The current table; never null (empty until the first InitPara).
  std::shared_ptr<const WaitDescMap> Snapshot() const;
  void Publish(WaitDescMap table);

 private:
  mutable std::mutex m_;
  std::shared_ptr<const WaitDescMap> p_;
};

extern WaitDescTable g_mapWaitDesc;

// The base entries (platform, optical-switch card and UART waits).
WaitDescMap BaseWaitDescs();
// Inserts or replaces one entry of a table being built.
void AddWaitDesc(WaitDescMap& table, uint32_t kind, uint32_t mask, uint32_t value,
                 const std::string& name);

// Publishes a table holding only the base entries.
void InitWaitDescs();
// Publishes a copy of the current table with one entry inserted or replaced.
void AddWaitDesc(uint32_t kind, uint32_t mask, uint32_t value, const std::string& name);
// The entry of `name` in the current table; false (and `out` untouched) when there is none.
bool LookupWaitDesc(const std::string& name, WaitDesc& out);
inline std::shared_ptr<const WaitDescMap> WaitDescSnapshot() { return g_mapWaitDesc.Snapshot(); }
