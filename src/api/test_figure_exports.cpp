// The test figure exports: the square and the guide corner, marked through the framed vector member
// of this library (mark/test_figures.h).
#include "frame/export_call.h"
#include "mark/test_figures.h"
#include "qzmark.h"

namespace {

TestFigureSink FigureSink(int32_t& r, int& points) {
  TestFigureSink sink = TestFigureSinkOfBox(r, points);
  sink.markVector = [](const double* points, int32_t count, uint32_t layer) {
    return QZ_MarkVector(points, count, layer);
  };
  return sink;
}

}  // namespace

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkTestRect(void) {
  return ExportCall("QZ_MarkTestRect", [] {
    int32_t r = 0;
    int points = 25;
    const TestFigureSink sink = FigureSink(r, points);
    return MarkTestRectImpl(sink, points, r);
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkGuideXY(uint32_t mode) {
  return ExportCall("QZ_MarkGuideXY", [mode] {
    int32_t r = 0;
    int points = 25;
    const TestFigureSink sink = FigureSink(r, points);
    if (const uint32_t rc = QZ_MarkModifyNoCali()) return rc;
    return MarkGuideCross(sink, mode, r);
  });
}
