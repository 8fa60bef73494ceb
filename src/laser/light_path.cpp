#include "laser/light_path.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "frame/wait_desc.h"
#include "markbase/io_words.h"
#include "markbase/mark_floor.h"
#include "markbase/stream_words.h"

namespace {

constexpr const char* kWaitNames[kLightPathWaitCount] = {
    "等待分光卡通讯成功且空闲", "等待分光卡光路申请反馈", "等待激光器空闲", "等待激光器响应",
    "等待能分从卡就绪",         "等待能分SynTrig",         "等待能分从卡就绪释放", "等待能分SynTrig释放",
};

// Each light-path wait waits without a time-out word; 1000 ms is its nominal time-out.
constexpr uint32_t kLightPathWaitMs = 1000;
// The stream time before and after a released switch output, µs.
constexpr int32_t kReleasePad = 1000;

// The waits as the named-wait table held them when the parameter file was read. Written by the
// parameter-file task, read by mark calls: the task state machine never runs the two at once.
struct LightPathCfg {
  bool bLoaded = false;
  bool bFound[kLightPathWaitCount] = {};
  WaitDesc desc[kLightPathWaitCount] = {};
};
LightPathCfg g_LightPath;

const LightPathCfg& Cfg() {
  if (!g_LightPath.bLoaded) LoadLightPathConfig();
  return g_LightPath;
}

void LogMissing(const char* tag, const char* name) {
  LogFailure(tag, std::string(Lang("没有这个等待条件: ", "no such wait condition: ")) + name);
}

void SetOutput(int32_t bit, uint32_t v) { AppendStreamWord(1, 1, MakeIoWord(bit, v)); }

bool IsMaster(int32_t type) { return type >= 4 && type <= 6; }
bool IsSwitch(int32_t type) { return type == 1 || type == 2; }

// A job without laser writes no handshake when [LASER] nRedModeNoOss is 1.
bool Skipped() REQUIRES(g_MarkCall) { return g_SystemPara.nRedModeNoOss == 1 && g_MarkJob.bLaserJob == 0; }

}  // namespace

const char* LightPathWaitName(LightPathWait w) { return kWaitNames[static_cast<int>(w)]; }

void LoadLightPathConfig() {
  LightPathCfg cfg;
  const auto table = WaitDescSnapshot();
  for (int i = 0; i < kLightPathWaitCount; ++i) {
    const auto it = table->find(kWaitNames[i]);
    cfg.bFound[i] = it != table->end();
    if (cfg.bFound[i]) {
      cfg.desc[i] = it->second;
    } else if (EffectiveOssType() != 0) {
      LogMissing("LoadLightPathConfig", kWaitNames[i]);
    }
  }
  cfg.bLoaded = true;
  g_LightPath = cfg;
}

int32_t EffectiveOssType() {
  const SystemPara& p = g_SystemPara;
  if (p.bOssType1Or2) return p.bOssType2 ? 2 : 1;
  if (p.bOssType3) return 3;
  if (p.bOssEnergySplit) return 3 + std::clamp<int32_t>(p.nEnergySplitSlaves, 1, 3);
  return 0;
}

uint32_t OssWaitWord() {
  const int32_t t = g_SystemPara.LASER_TYPE;
  return t == 5 || t == 7 ? SW_OSS_WAIT_F : SW_OSS_WAIT_7;
}

void AppendLightPathWait(LightPathWait w) {
  const LightPathCfg& cfg = Cfg();
  const int i = static_cast<int>(w);
  if (!cfg.bFound[i]) {
    LogMissing("AppendLightPathWait", kWaitNames[i]);
    return;
  }
  const WaitDesc& d = cfg.desc[i];
  EmitWriteRegSeq(d.mask, d.value, kWaitNoTimeout, kLightPathWaitMs, d.kind);
}

void AppendOssWaitStep(LightPathWait w) {
  AppendStreamWord(100, 1, OssWaitWord());
  AppendLightPathWait(w);
}

void AppendOssWaitStep(const char* name) {
  for (int i = 0; i < kLightPathWaitCount; ++i) {
    if (name && std::strcmp(name, kWaitNames[i]) == 0) {
      AppendOssWaitStep(static_cast<LightPathWait>(i));
      return;
    }
  }
  AppendStreamWord(100, 1, OssWaitWord());
  EmitNamedReg(kWaitNoTimeout, kLightPathWaitMs, name ? name : "");
}

uint32_t AppendLightPathRequest(int32_t kind, int bApply, int bWait) {
  if (Skipped()) return RV_OK;
  const SystemPara& p = g_SystemPara;
  const int32_t type = EffectiveOssType();
  if (kind == 1) {
    if (type != 1) return RV_OK;
  } else if (kind == 2) {
    if (type != 2) {
      // Energy splitting: the master waits for its slaves and triggers them; a slave reports ready
      // and waits for the trigger.
      if (!bWait) return RV_OK;
      if (IsMaster(type)) {
        AppendLightPathWait(LightPathWait::kSlaveReady);
        SetOutput(p.nIO_OSS_Energy_Host_Trig_O, 1);
        AppendLightPathWait(LightPathWait::kSynTrig);
      } else if (type == 3) {
        SetOutput(p.nIO_OSS_Energy_Dev_Ready_O, 1);
        AppendLightPathWait(LightPathWait::kSynTrig);
        SetOutput(p.nIO_OSS_Energy_Dev_Ready_O, 0);
      }
      return RV_OK;
    }
  } else {
    return RV_OK;
  }
  if (p.IoInFromOss == 1) {
    // The switch card answers through the wait word.
    if (bApply) {
      AppendOssWaitStep(LightPathWait::kOssIdle);
      SetOutput(p.nOssNeedApplyIO, 1);
    }
    if (bWait) AppendOssWaitStep(LightPathWait::kOssGrant);
  } else {
    // The answer comes on inputs, as the laser's idle and acknowledge states.
    if (bApply) {
      if (p.bIgnoreOssIdle == 0) AppendLightPathWait(LightPathWait::kLaserIdle);
      SetOutput(p.nOssNeedApplyIO, 1);
    }
    if (bWait) AppendLightPathWait(LightPathWait::kLaserAck);
  }
  return RV_OK;
}

uint32_t AppendLightPathRelease(int32_t kind) {
  if (Skipped()) return RV_OK;
  const SystemPara& p = g_SystemPara;
  const int32_t type = EffectiveOssType();
  if (kind == 1) {
    if (IsSwitch(type)) AppendStreamWord(kReleasePad, kReleasePad, MakeIoWord(p.nOssNeedApplyIO, 0));
    return RV_OK;
  }
  if (kind != 2) return RV_OK;
  if (IsSwitch(type)) {
    if (p.IoInFromOss == 1) {
      AppendOssWaitStep(LightPathWait::kOssGrant);
    } else {
      AppendLightPathWait(LightPathWait::kLaserAck);
    }
  } else if (IsMaster(type)) {
    SetOutput(p.nIO_OSS_Energy_Host_Trig_O, 0);
    AppendLightPathWait(LightPathWait::kSlaveReadyFree);
    AppendLightPathWait(LightPathWait::kSynTrigFree);
  } else if (type == 3) {
    AppendLightPathWait(LightPathWait::kSynTrigFree);
  }
  if (type == 2) {
    SetOutput(p.nOssNeedApplyIO, 0);
    if (p.IoInFromOss == 1) {
      AppendOssWaitStep(LightPathWait::kOssIdle);
    } else if (p.bIgnoreOssIdle == 0) {
      AppendLightPathWait(LightPathWait::kLaserIdle);
    }
  }
  return RV_OK;
}
