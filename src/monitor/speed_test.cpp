#include "monitor/speed_test.h"

#include <algorithm>
#include <array>

#include "cardlink/card_para.h"
#include "cardlink/portlane.h"
#include "cardlink/task_state.h"
#include "cardlink/task_table.h"
#include "frame/bytes.h"
#include "frame/card_version.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "laser/laser_outputs.h"
#include "mark/fifo_data.h"
#include "mark/mark_job.h"
#include "platform/clock.h"

namespace {

constexpr uint32_t kCmdOssSet = 0x14A;
constexpr uint32_t kEndOfData = 0x51100001u;

[[noreturn]] void CardLost() { throw MyException(RV_CARD_NOT_CONNECTED, 0); }

CmdReply OssQuery(uint32_t p) {
  CmdReply reply;
  CPortlane::SendCmd(static_cast<uint16_t>(g_CmdNumTable.Of(kCmdOssStatus)), p, 0, reply);
  return reply;
}

std::string CommandTest() {
  const double t0 = plat::PerfMs();
  double minimum = kSlowestCommandMs, maximum = 0.0, previous = t0, t = t0;
  for (uint32_t i = 0; i < kSpeedTestBlocks; ++i) {
    {
      CSyncGuard lock(g_csCardCmd);
      if (!g_Link.g_bConnected) CardLost();
      CmdReply reply;
      CPortlane::SendCmdLocked(CMD_HW_VERSION, 0, 0, reply);
    }
    t = plat::PerfMs();
    const double d = t - previous;
    maximum = std::max(maximum, d);
    minimum = std::min(minimum, d);
    previous = t;
  }
  const double total = t - t0;
  std::string text = StrFormat(Lang("立即指令次数:  %d 次   \t用时：%.1f s  速度:  %.1f  次/s \n",
                                    "Immediate command count:%d times \tTime:%.1f s Speed:%.1f times/s \n"),
                               static_cast<int>(kSpeedTestBlocks), total / 1000.0, 50000000.0 / total);
  text += StrFormat(Lang("立即指令: 平均耗时  %.3f ms \t最大耗时：%.3f ms \t最小耗时：%.3f ms \n",
                         "Immediate instruction: Average time spent%.3f ms \tMaximum time spent:%.3f ms \t"
                         "Minimum time spent:%.3f ms \n"),
                    total / kSpeedTestBlocks, maximum, minimum);
  return text;
}

}  // namespace

void TestBufferSpeedFlow(uint32_t& elapsedMs) {
  std::array<uint8_t, kStreamBlockBytes> block{};
  PutU32(block.data(), kEndOfData);
  const uint32_t start = plat::TickMs();
  for (uint32_t i = 0; i < kSpeedTestBlocks; ++i) {
    g_BlockRing.Put(block.data());
    if (g_Link.g_bConnected) g_FifoData.DrainRing();
  }
  elapsedMs = plat::TickMs() - start;
}

std::string TestSpeed() {
  // 0 until the generator ran: a run that never got to it shows no time of an earlier one.
  uint32_t elapsedMs = 0;
  RunMarkFlow(0, [&elapsedMs]() REQUIRES(g_MarkCall) { TestBufferSpeedFlow(elapsedMs); }, 0, 0, 1);
  const double t = elapsedMs;
  std::string text = StrFormat(Lang("缓冲数据大小：%.1f MB   \t用时：%.1f s  速度:  %.1f MB/s \n",
                                    "Buffer data size:%.1f MB \tTime:%.1f s Speed:%.1f MB/s \n"),
                               97.65625, t / 1000.0, 97656.25 / t);
  text += CommandTest();
  text += Lang("\n注：缓冲速度应 >10MB/s  \n立即指令速度应 >5000次/s ",
               "\n Note: The buffer speed should be >10MB/s \n The immediate command speed should be >5000 times/s");
  return text;
}

uint32_t RunSpeedTest() {
  if (!g_Link.g_bConnected) return RV_CARD_NOT_CONNECTED;
  {
    CSysTaskLock task(TASK_TEST_SPEED);
    if (task.Result() != 0) return task.Result();
    ShowTopmostBox(TestSpeed());
  }
  return g_Link.g_bConnected ? RV_OK : RV_CARD_NOT_CONNECTED;
}

std::string TestOssSwitchSpeed(uint32_t p) {
  const CmdReply settings = OssQuery(p);
  const uint32_t target = settings.r0() & 0xFFFFu;
  uint32_t current = settings.r1() & 0xFFFFu;
  {
    CSyncGuard lock(g_csCardCmd);
    const auto set = static_cast<uint16_t>(g_CmdNumTable.Of(kCmdOssSet));
    for (;;) {
      if (!g_Link.g_bConnected) CardLost();
      CmdReply reply;
      CPortlane::SendCmdLocked(set, 0, current, reply);
      if (current == target) break;
      current = current < target ? current + 1 : current - 1;
    }
  }
  plat::Sleep(500);
  const double t0 = plat::PerfMs();
  OutputWithSerialMirror(kOssOutput, kOssOutput);  // as QZ_Output
  // Polls until `bit` is set; false when the deadline passed first. Each reading of bit 22 clear
  // moves `lastFeedback` on while the switch is awaited.
  auto until = [t0](uint32_t bit, double& at, double* lastFeedback) {
    for (;;) {
      const uint32_t r0 = OssQuery(0).r0();
      at = plat::PerfMs() - t0;
      if (r0 & bit) return true;
      if (lastFeedback && !(r0 & kOssFeedback)) *lastFeedback = at;
      if (at >= kOssDeadlineMs) return false;
    }
  };
  std::string text;
  double planned = 0.0, firstFeedback = 0.0, done = 0.0;
  bool kept = until(kOssPlanned, planned, nullptr) && until(kOssFeedback, firstFeedback, nullptr);
  double lastFeedback = firstFeedback;
  kept = kept && until(kOssDone, done, &lastFeedback);
  // The output falls on every path, the time-out's too.
  OutputWithSerialMirror(kOssOutput, 0);
  if (!kept) return Lang("超时未完成!", "Time out not completed!");
  text = StrFormat(Lang("  振镜规划到达时间：%.1f ms \n", "Galvanometer planning arrival time:%.1f ms \n"), planned);
  text += StrFormat(Lang("  振镜反馈到达时间：%.1f ~ %.1f ms \n", "Galvanometer feedback arrival time:%.1f~%.1f ms \n"),
                    firstFeedback, lastFeedback);
  text += StrFormat(Lang("%d光路切换到1光路总时间：%.1f ms \n", "Total time for switching from path %d to path 1:%.1f ms \n"),
                    static_cast<int>(p + 1), done);
  return text;
}

uint32_t RunOssSwitchSpeedTest() {
  if (!g_Link.g_bConnected) return RV_CARD_NOT_CONNECTED;
  std::string text;
  for (uint32_t p = 0; p < 4; ++p) text += TestOssSwitchSpeed(p);
  ShowTopmostBox(text);
  return g_Link.g_bConnected ? RV_OK : RV_CARD_NOT_CONNECTED;
}
