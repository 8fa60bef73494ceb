// The nine entry points of the driver-link library, on the process-global card model. Built twice:
// CARDSIM_PCIE 0 gives the USB library ("Portlane"), 1 the PCIe library ("PortlanePCIE").
#include <cstdint>

#include "card_model.h"

#if !defined(CARDSIM_PCIE)
#error "CARDSIM_PCIE must be 0 or 1"
#endif

#if defined(_WIN32)
#define DRIVER_ENTRY extern "C" __declspec(dllexport) uint32_t __stdcall
#else
#define DRIVER_ENTRY extern "C" __attribute__((visibility("default"))) uint32_t
#endif

namespace {

using cardsim::CardModel;
using cardsim::CardType;

constexpr CardType kType = CARDSIM_PCIE ? CardType::Pcie : CardType::Usb;

CardModel& Card() {
  static CardModel& m = []() -> CardModel& {
    CardModel& g = CardModel::Global();
    g.SetDefaultType(kType);
    return g;
  }();
  return m;
}

// At load, so that the control functions see this library's card type before any driver call.
[[maybe_unused]] const bool g_typeSet = (Card(), true);

}  // namespace

DRIVER_ENTRY QZ_OpenDriver(uint32_t index) { return Card().OpenDriver(index); }
DRIVER_ENTRY QZ_GetCardsNo(void* a, void* b, uint32_t magic) { return Card().GetCardsNo(a, b, magic); }
DRIVER_ENTRY QZ_CloseDriver() { return Card().CloseDriver(); }
DRIVER_ENTRY QZ_CmdSend(const void* data, uint32_t length) { return Card().CmdSend(data, length); }
DRIVER_ENTRY QZ_CmdRecv(void* buffer, uint32_t length) { return Card().CmdRecv(buffer, length); }
DRIVER_ENTRY QZ_BufSend(const void* data, uint32_t length) { return Card().BufSend(data, length); }
DRIVER_ENTRY QZ_BufRecv(void* buffer, uint32_t length) { return Card().BufRecv(buffer, length); }
DRIVER_ENTRY QZ_DeviceIoControl(uint32_t code, void* in, uint32_t inLength, void* out, uint32_t outLength,
                                uint32_t* returned) {
  return Card().DeviceIoControl(code, in, inLength, out, outLength, returned);
}
DRIVER_ENTRY QZ_SendComCmd(uint32_t direction, uint32_t request, uint32_t value, uint32_t index, void* buffer,
                           uint32_t length) {
  return Card().SendComCmd(direction, request, value, index, buffer, length);
}
