#pragma once
// The common frame of the mark-list commands.
//
// Every mark-list command (QZ_MarkVector, QZ_MarkBufIO, QZ_MarkInputWait, ...) runs through one
// frame, in this order:
//   1. its entry line in the daily log, at its level (formatted only when the log takes that level);
//   2. no card open: 1, and nothing else happens;
//   3. the mark-call guard; a call that overlaps another stops the card's run, reports code 16
//      (log and box) and returns 16;
//   4. no job (state -3): code 17 reported (log and box), 17; a job whose start failed (state -2):
//      0 without effect;
//   5. the member's argument check, when it has one: an argument that is not data of the job (a
//      layer beyond 255, an input bit beyond 31, a byte lane, a count) is refused with its code
//      before anything is appended or the card's buffer is started, and the job goes on. Data the
//      job cannot mark (a coordinate or time that is NaN or infinite, a vector or dot list the
//      generators refuse, a position beyond the field's reach) fails the job instead: the body
//      throws it through ThrowMarkError, after step 6, before it writes anything, so that the
//      code's text is shown once, the card's run is stopped, later members return 20 and
//      QZ_MarkEnd 3;
//   6. MarkBufferBefore with the member's kind: the card's buffer starts on the first call of a
//      job, pending words are flushed, the kind marker is appended;
//   7. a stopped or failed job: 20, without a message;
//   8. the body: 0 or the code of a refusal;
//   9. the guard is released; 1 when the card was lost meanwhile, else the body's result.
// A failure thrown inside leaves the guard released and becomes the result: a library failure its
// code (reported when its show flag is set), exhausted memory 38 (logged and boxed under the
// member's name). No exception leaves a member.
//
// A member is a MarkMember (its name, kind and entry line) and a body, usually one line each:
//   constexpr MarkMember kMarkBufIO{"QZ_MarkBufIO", KIND_IO, LOG_TRACE, EntryText::kEmpty};
//   return RunMarkMember(kMarkBufIO, {}, [&]() REQUIRES(g_MarkCall) { return AddOutputWords(v, m); });
// The frame is on the path of every QZ_MarkVector: it allocates nothing.
#include <cstdint>
#include <type_traits>

#include "frame/log_file.h"
#include "markbase/job_state.h"

// What a member's entry line shows after its name.
enum class EntryText : uint8_t {
  kNoLine,  // the member writes no entry line
  kEmpty,   // nothing
  kInt,     // "%d" of the value
  kReal2,   // "%.2f"
  kReal3,   // "%.3f"
};

struct MarkMember {
  const char* name;  // the tag of its entry line and of every report of the frame
  uint32_t kind;     // MarkCmdKind of its marker
  int level;         // level of the entry line
  EntryText text;
};

// The value an entry line shows.
struct EntryValue {
  constexpr EntryValue() = default;
  constexpr EntryValue(int32_t v) : n(v) {}
  constexpr EntryValue(uint32_t v) : n(static_cast<int32_t>(v)) {}
  constexpr EntryValue(double v) : x(v) {}
  int32_t n = 0;
  double x = 0.0;
};

// A reference to a step of a member (its argument check or its body): a callable returning a
// result code, called inside the mark call. Neither copies nor allocates; the callable must
// outlive the frame's call.
class MemberStep {
 public:
  MemberStep() = default;
  template <class F>
    requires(!std::is_same_v<std::remove_cvref_t<F>, MemberStep>)
  MemberStep(const F& f) : obj_(&f), fn_(&Invoke<F>) {}  // NOLINT: implicit on purpose
  explicit operator bool() const { return fn_ != nullptr; }
  uint32_t operator()() const REQUIRES(g_MarkCall) { return fn_(obj_); }

 private:
  template <class F>
  static uint32_t Invoke(const void* f) REQUIRES(g_MarkCall) {
    return (*static_cast<const F*>(f))();
  }
  const void* obj_ = nullptr;
  uint32_t (*fn_)(const void*) = nullptr;
};

// The frame; `check` may be empty.
uint32_t MarkMemberFrame(const MarkMember& m, EntryValue entry, MemberStep check, MemberStep body) noexcept;

template <class Body>
uint32_t RunMarkMember(const MarkMember& m, EntryValue entry, const Body& body) noexcept {
  return MarkMemberFrame(m, entry, MemberStep(), MemberStep(body));
}

template <class Check, class Body>
uint32_t RunMarkMember(const MarkMember& m, EntryValue entry, const Check& check, const Body& body) noexcept {
  return MarkMemberFrame(m, entry, MemberStep(check), MemberStep(body));
}
