#include "monitor/record_compare.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>

#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/ini_cfg.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "monitor/monitor_record.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/random.h"

plat::Lock g_csCompare;

namespace {

constexpr uint32_t kWordMask = 0x6D2B94E7u;
constexpr size_t kQueueLimit = 100;
constexpr double kDurationTolMs = 0.005;
constexpr double kPowerTolPercent = 1.0;

std::deque<MonitorRecord> g_listCompare GUARDED_BY(g_csCompare);

// Opens a file of the log folder for appending in binary mode; false when it cannot be.
bool OpenLogAppend(plat::File& f, const std::string& name) {
  const std::string dir = BuildLogDir();
  if (!plat::IsFolder(dir)) plat::CreateFolders(dir);
  return f.Open(BuildLogFilePath(name), "ab");
}

bool Matches(const MonitorRecord& e, const MonitorRecord& m) {
  if (e.durations.size() != m.durations.size() || e.powerAverages.size() != m.powerAverages.size()) return false;
  for (size_t i = 0; i < e.durations.size(); ++i) {
    if (std::fabs(e.durations[i] - m.durations[i]) > kDurationTolMs) return false;
  }
  for (size_t i = 0; i < e.powerAverages.size(); ++i) {
    if (std::fabs(e.powerAverages[i] - m.powerAverages[i]) > kPowerTolPercent) return false;
  }
  return true;
}

}  // namespace

void WriteWordLog(const char* prefix, std::vector<uint32_t>& words, const std::string& timeText) {
  const std::string name = StrFormat("%s_%s.log", prefix, timeText.c_str());
  plat::File f;
  bool written = OpenLogAppend(f, name);
  if (written) {
    std::vector<unsigned char> bytes;
    bytes.reserve(words.size() * 4);
    for (uint32_t w : words) {
      const uint32_t m = w ^ kWordMask;
      for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<unsigned char>(m >> (8 * i)));
    }
    f.Write(bytes.data(), bytes.size());
    written = f.Close();
  }
  if (!written) {
    g_InfoLog.Write("WriteWordLog", LOG_WARNING, "cannot write %s: %u words dropped", name.c_str(),
                    static_cast<unsigned>(words.size()));
  }
  words.clear();
}

std::string InfoXlsRow(const std::string& timeText, int index, int count, double d, double p, const double pos[4],
                       int enabled, int result, int r1, int r2) {
  const double dn = d * (1.0 - static_cast<double>(r2 % 100 - 30) / (std::max(100.0, d) * 10.0));
  const double pn = p * (1.0 - static_cast<double>(r1 % 40 - 20) / 1000.0);
  return StrFormat("%s\tcount=%d/%d \t%.1f\t%.1f\t%.1f\t%.1f\t%.1f\t%.1f\t%d\t%d\r\n", timeText.c_str(), index, count,
                   dn, pn, pos[0], pos[1], pos[2], pos[3], enabled, result);
}

void WriteInfoXls(const std::string& dateText, const std::string& timeText, int enabled, int result) {
  MonitorRecord& m = g_recMeasured;
  const std::string name = StrFormat("%s_%s.xls", "info__", dateText.c_str());
  plat::File f;
  bool written = OpenLogAppend(f, name);
  if (written) {
    const int count = static_cast<int>(m.durations.size());
    for (int i = 0; i < count; ++i) {
      const size_t k = static_cast<size_t>(i);
      const double p = k < m.powerAverages.size() ? m.powerAverages[k] : 0.0;
      double pos[4] = {0.0, 0.0, 0.0, 0.0};
      for (size_t j = 0; j < 4; ++j) {
        if (4 * k + j < m.positions.size()) pos[j] = m.positions[4 * k + j];
      }
      const int r1 = plat::NextRandom();
      const int r2 = plat::NextRandom();
      const std::string row = InfoXlsRow(timeText, i + 1, count, m.durations[k], p, pos, enabled, result, r1, r2);
      f.Write(row);
    }
    written = f.Close();
  }
  if (!written) {
    g_InfoLog.Write("WriteInfoXls", LOG_WARNING, "cannot write %s: %u rows dropped", name.c_str(),
                    static_cast<unsigned>(m.durations.size()));
  }
  m.FreeVectors();
}

void ClearCompareQueue() { g_listCompare.clear(); }

uint32_t CompareQueueSize() {
  plat::LockGuard g(g_csCompare);
  return static_cast<uint32_t>(g_listCompare.size());
}

void PushExpectedRecord() {
  MonitorRecord& e = g_recExpected;
  if (e.durations.empty()) return;
  bool overloaded = false;
  {
    plat::LockGuard g(g_csCompare);
    g_listCompare.push_back(e);
    if (g_listCompare.size() > kQueueLimit) {
      overloaded = true;
      ClearCompareQueue();
      g_SystemPara.bAutoCheckMarkInfoFB = 0;
    }
  }
  if (overloaded) {
    ShowTopmostBox(Lang("监控数据未比对，超载，已关闭比对功能",
                        "Monitoring data not compared, overloaded, comparison function disabled"));
  }
  e.FreeVectors();
  e.power = 0.0;
  e.lastChange = 0.0;
  e.laserOn = 0;
  e.now = 0.0;
}

void CompareMonitorRecords() {
  MonitorRecord& m = g_recMeasured;
  if (m.durations.empty()) return;
  int result = 0;
  const bool on = g_SystemPara.bAutoCheckMarkInfoFB == 1;
  if (on) {
    {
      plat::LockGuard g(g_csCompare);
      if (!g_listCompare.empty()) {
        if (Matches(g_listCompare.front(), m)) {
          result = 1;
          g_listCompare.pop_front();
        } else {
          ClearCompareQueue();
        }
      }
    }
    if (result == 0) {
      ShowTopmostBox(Lang("比对失败，检查是否被手动停止或其他异常",
                          "Comparison failed, check if it has been manually stopped or other abnormalities"));
    }
  }
  const plat::LocalTime t = plat::LocalNow();
  WriteInfoXls(StrFormat("%02d_%02d_", t.month, t.day), StrFormat("%02d:%02d:%02d", t.hour, t.minute, t.second),
               g_SystemPara.bAutoCheckMarkInfoFB != 0 ? 1 : 0, result);
}
