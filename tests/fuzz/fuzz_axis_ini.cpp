// Axis INI files: one axis record read from "DeviceNXA.ini" (old-style keys) or
// "Card1AxisPara.ini" (new-style keys), the style and the axis chosen by the input's length.
// Oracle: the record is read or refused with code 29; a record read has finite, positive
// velocities, accelerations and stop acceleration, and finite, nonzero pulses per unit (and rotary
// scale on a rotary axis).
#include <cmath>

#include "axis/axis_records.h"
#include "frame/errors.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const bool newStyle = size % 2 == 1;
  const AxisParaIni file{qzfuzz::IniFile(newStyle ? "Card1AxisPara.ini" : "DeviceNXA.ini"), newStyle};
  FUZZ_CHECK(plat::WriteWholeFile(file.path, qzfuzz::Bytes(data, size)), "cannot stage the file");
  int32_t lmt = 0;
  NxaAxisRecord r;
  try {
    r = ReadAxisRecord(file, static_cast<uint32_t>(size / 2 % kNxaAxisMax), lmt);
  } catch (const MyException& e) {
    FUZZ_CHECK(e.code == RV_EXT_PARA_OVERFLOW, "refused with code %u", e.code);
    return 0;
  }
  const double positive[] = {r.dbHomeLowVel, r.dbHomeLowAcc, r.dbHomeHighVel, r.dbHomeHighAcc,
                             r.dbStopAcc,    r.dbMaxVel,     r.dbMaxAcc};
  for (double v : positive) FUZZ_CHECK(std::isfinite(v) && v > 0, "a velocity or acceleration of %g", v);
  FUZZ_CHECK(std::isfinite(r.dbPulsePerUnit) && r.dbPulsePerUnit != 0, "pulses per unit %g", r.dbPulsePerUnit);
  FUZZ_CHECK(!r.bRotary || (std::isfinite(r.dbRotaryScale) && r.dbRotaryScale != 0), "rotary scale %g", r.dbRotaryScale);
  FUZZ_CHECK(std::isfinite(r.dbHomeDist), "home distance %g", r.dbHomeDist);
  return 0;
}
