#include "flash/off_file_head.h"

#include <cstring>

#include "cardlink/card_operation.h"
#include "cardlink/card_wire.h"
#include "frame/bytes.h"
#include "frame/card_version.h"
#include "frame/log_file.h"
#include "frame/system_para.h"

OffFileHead OffFileHead::Default(uint8_t pidByte) {
  OffFileHead h;
  h.pid = pidByte;
  for (size_t i = 0; i < kOffFileEntries; ++i) h.entries[i].id = OffEntryDefaultId(i);
  return h;
}

void OffFileHead::Store(uint8_t* out) const {
  PutU16(out, version);
  out[2] = pid;
  PutU32(out + 3, timing);
  for (size_t i = 0; i < kOffFileEntries; ++i) {
    uint8_t* e = out + 7 + i * kOffFileEntryBytes;
    const OffFileEntry& x = entries[i];
    e[0] = x.state;
    std::memcpy(e + 1, x.name.data(), x.name.size());
    PutU32(e + 21, x.mark);
    PutU32(e + 25, x.reserved);
    PutU16(e + 29, x.id);
    PutU16(e + 31, x.tail);
  }
}

OffFileHead OffFileHead::Load(const uint8_t* in) {
  OffFileHead h;
  h.version = GetU16(in);
  h.pid = in[2];
  h.timing = GetU32(in + 3);
  for (size_t i = 0; i < kOffFileEntries; ++i) {
    const uint8_t* e = in + 7 + i * kOffFileEntryBytes;
    OffFileEntry& x = h.entries[i];
    x.state = e[0];
    std::memcpy(x.name.data(), e + 1, x.name.size());
    x.mark = GetU32(e + 21);
    x.reserved = GetU32(e + 25);
    x.id = GetU16(e + 29);
    x.tail = GetU16(e + 31);
  }
  return h;
}

FlashPage OffHeadPage(const OffFileHead& head) {
  FlashPage page{};
  head.Store(page.data() + kOffHeadPageOffset);
  page[kFlashPageBytes - 1] = 0xA5;
  return page;
}

bool OffHeadFromPage(const uint8_t* page, OffFileHead& head) {
  if (page[kFlashPageBytes - 1] != 0xA5) return false;
  head = OffFileHead::Load(page + kOffHeadPageOffset);
  return true;
}

void ReadOffFileHead(uint8_t* table) {
  ReadPageRange("ReadOffFileHead", g_FlashAreaMap.nOffFileHeadPage, kOffHeadPageOffset, table, kOffFileHeadBytes);
}

void UpdateOffFileHead(OffFileHead& head) {
  NoticeCardInvalidPara(AREA_OFF_HEAD);
  const SystemPara& p = g_SystemPara;
  // A USB card that checks its flash keeps the states the host gave.
  const bool keepStates = p.nCheckFlashType != 0 && p.CardLinkCfg.bUsbFlashPath;
  for (OffFileEntry& e : head.entries) {
    e.mark = kOffEntryMark;
    if (!keepStates) e.state = kOffEntryEmpty;
  }
  const FlashPage page = OffHeadPage(head);
  const uint32_t at = g_FlashAreaMap.nOffFileHeadPage;
  if (FlashIsSpiMap()) {
    CBrokenBlock::WriteSpiPage(at, page.data());
  } else {
    g_nPageCursor = at;
    CBrokenBlock::WritePageBBT(page.data());
  }
  FlushAndSuccess(OP_ARG_COMMIT_OFF_HEAD, AREA_OFF_HEAD, -1);
}

void ConformOffHeadTiming(uint32_t timing) {
  FlashPage page{};
  OffFileHead head;
  const bool read = CBrokenBlock::ReadPage(g_FlashAreaMap.nOffFileHeadPage, page.data());
  if (read && OffHeadFromPage(page.data(), head)) {
    if (head.timing == timing) return;
  } else {
    g_InfoLog.Write("ConformOffHeadTiming", LOG_INFO, "the offline-file head is %s: a default head is written",
                    read ? "not marked" : "not readable");
    head = OffFileHead::Default(static_cast<uint8_t>(g_SystemPara.CardLinkCfg.PID & 0xFFu));
  }
  head.timing = timing;
  UpdateOffFileHead(head);
}
