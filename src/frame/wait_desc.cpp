#include "frame/wait_desc.h"

#include <utility>

WaitDescTable g_mapWaitDesc;

WaitDescTable::WaitDescTable() : p_(std::make_shared<const WaitDescMap>()) {}

std::shared_ptr<const WaitDescMap> WaitDescTable::Snapshot() const {
  std::lock_guard<std::mutex> g(m_);
  return p_;
}

void WaitDescTable::Publish(WaitDescMap table) {
  auto next = std::make_shared<const WaitDescMap>(std::move(table));
  std::shared_ptr<const WaitDescMap> old;
  {
    std::lock_guard<std::mutex> g(m_);
    old = std::exchange(p_, std::move(next));
  }
  // `old` is released outside the lock (a reader may still hold it).
}

WaitDescMap BaseWaitDescs() {
  WaitDescMap t;
  AddWaitDesc(t, 4, 0x11, 0x10, "等待平台到位");
  AddWaitDesc(t, 5, 0x10F, 0, "等待分光卡通讯成功且空闲");
  AddWaitDesc(t, 5, 0x3F0F, 0x300, "等待分光卡光路申请反馈");
  AddWaitDesc(t, 5, 0x1000000, 0x1000000, "等待串口发送开始");
  AddWaitDesc(t, 5, 0x1000000, 0, "等待串口发送结束");
  return t;
}

void AddWaitDesc(WaitDescMap& table, uint32_t kind, uint32_t mask, uint32_t value,
                 const std::string& name) {
  table[name] = WaitDesc{kind, mask, value};
}

void InitWaitDescs() { g_mapWaitDesc.Publish(BaseWaitDescs()); }

void AddWaitDesc(uint32_t kind, uint32_t mask, uint32_t value, const std::string& name) {
  WaitDescMap next = *g_mapWaitDesc.Snapshot();
  AddWaitDesc(next, kind, mask, value, name);
  g_mapWaitDesc.Publish(std::move(next));
}

bool LookupWaitDesc(const std::string& name, WaitDesc& out) {
  auto t = g_mapWaitDesc.Snapshot();
  auto it = t->find(name);
  if (it == t->end()) return false;
  out = it->second;
  return true;
}
