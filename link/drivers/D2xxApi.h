#pragma once

#include <cstdint>

// The bridge vendor's D2XX library as this program calls it: the functions the device link and
// the search use, with the argument types the library expects. Written from the calls themselves;
// the library is loaded at run time (D2xxLibrary) and never shipped with the program.
//
// Integer arguments passed by value are `unsigned long` where the library takes its ULONG/DWORD:
// exactly 32 bits on Windows, and on 64-bit Linux a zero-extended value that a 32-bit parameter
// reads the same. Results and everything passed by address are exactly 32 bits on both.
namespace vxa::d2xx {

#if defined(_WIN32)
#define VXA_D2XX_CALL __stdcall  // WINAPI: decorated FT_Open@8 on i686 unless exported bare
#else
#define VXA_D2XX_CALL
#endif

using Handle = void*;
using Status = uint32_t;
using ULong = unsigned long;

// Flags of FT_ListDevices and FT_OpenEx.
inline constexpr ULong kListNumberOnly = 0x80000000;
inline constexpr ULong kListByIndex = 0x40000000;
inline constexpr ULong kListAll = 0x20000000;
inline constexpr ULong kOpenBySerialNumber = 1;
inline constexpr ULong kOpenByDescription = 2;
inline constexpr ULong kOpenByLocation = 4;
// A description in the listing is at most this long, with its terminating zero; a serial number
// at most this.
inline constexpr int kDescriptionSize = 64;
inline constexpr int kSerialNumberSize = 16;

using ListDevicesFn = Status(VXA_D2XX_CALL*)(void* arg1, void* arg2, ULong flags);
using OpenExFn = Status(VXA_D2XX_CALL*)(void* arg, ULong flags, Handle* handle);
using CloseFn = Status(VXA_D2XX_CALL*)(Handle handle);
using ResetDeviceFn = Status(VXA_D2XX_CALL*)(Handle handle);
using SetLatencyTimerFn = Status(VXA_D2XX_CALL*)(Handle handle, unsigned char milliseconds);
using SetUSBParametersFn = Status(VXA_D2XX_CALL*)(Handle handle, ULong inSize, ULong outSize);
using SetTimeoutsFn = Status(VXA_D2XX_CALL*)(Handle handle, ULong readMs, ULong writeMs);
using SetDataCharacteristicsFn = Status(VXA_D2XX_CALL*)(Handle handle, unsigned char wordLength,
                                                        unsigned char stopBits,
                                                        unsigned char parity);
using GetModemStatusFn = Status(VXA_D2XX_CALL*)(Handle handle, uint32_t* modemStatus);
using SetFlowControlFn = Status(VXA_D2XX_CALL*)(Handle handle, unsigned short mode,
                                                unsigned char xon, unsigned char xoff);
using SetDivisorFn = Status(VXA_D2XX_CALL*)(Handle handle, unsigned short divisor);
using PurgeFn = Status(VXA_D2XX_CALL*)(Handle handle, ULong mask);
using WriteFn = Status(VXA_D2XX_CALL*)(Handle handle, void* buffer, uint32_t count,
                                       uint32_t* written);
using ReadFn = Status(VXA_D2XX_CALL*)(Handle handle, void* buffer, uint32_t count,
                                      uint32_t* read);
using GetStatusFn = Status(VXA_D2XX_CALL*)(Handle handle, uint32_t* rxQueue, uint32_t* txQueue,
                                           uint32_t* eventStatus);

// Every function the program needs, resolved by name; a library that lacks one is not used.
struct Functions {
  ListDevicesFn ListDevices = nullptr;
  OpenExFn OpenEx = nullptr;
  CloseFn Close = nullptr;
  ResetDeviceFn ResetDevice = nullptr;
  SetLatencyTimerFn SetLatencyTimer = nullptr;
  SetUSBParametersFn SetUSBParameters = nullptr;
  SetTimeoutsFn SetTimeouts = nullptr;
  SetDataCharacteristicsFn SetDataCharacteristics = nullptr;
  GetModemStatusFn GetModemStatus = nullptr;
  SetFlowControlFn SetFlowControl = nullptr;
  SetDivisorFn SetDivisor = nullptr;
  PurgeFn Purge = nullptr;
  WriteFn Write = nullptr;
  ReadFn Read = nullptr;
  GetStatusFn GetStatus = nullptr;
};

}  // namespace vxa::d2xx
