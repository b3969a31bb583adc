// What a process holds, for leak checks: private memory, counted two ways, and its kernel handles,
// GDI objects and thread-local slots.
#pragma once

#include <windows.h>
#include <psapi.h>

#include <winternl.h>

#include <cstdint>
#include <vector>

namespace test {

// Private bytes as the process-memory counters report them.
inline uint64_t PrivateUsage() {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                            sizeof counters))
    return 0;
  return counters.PrivateUsage;
}

// Committed private pages, counted region by region: also sees blocks that were never touched.
inline uint64_t CommittedPrivateBytes() {
  uint64_t total = 0;
  MEMORY_BASIC_INFORMATION info;
  const char* address = nullptr;
  while (VirtualQuery(address, &info, sizeof info) == sizeof info) {
    if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) total += info.RegionSize;
    const char* next = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
    if (next <= address) break;
    address = next;
  }
  return total;
}

// Kernel handles. Wine 8 answers GetProcessHandleCount with 0: then the process's entries of the
// system's handle table are counted.
inline int64_t KernelHandles() {
  DWORD count = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) return count;
  struct Entry {
    ULONG process;
    UCHAR type, flags;
    USHORT handle;
    void* object;
    ACCESS_MASK access;
  };
  using Query = NTSTATUS(WINAPI*)(ULONG, void*, ULONG, ULONG*);
  const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  constexpr ULONG kHandleInformation = 16;
  constexpr NTSTATUS kTooSmall = NTSTATUS(0xC0000004L);
  std::vector<char> table(1 << 16);
  NTSTATUS status;
  ULONG length = 0;
  while ((status = query(kHandleInformation, table.data(), ULONG(table.size()), &length)) == kTooSmall)
    table.resize(table.size() * 2);
  if (status != 0) return -1;
  const ULONG entries = *reinterpret_cast<const ULONG*>(table.data());
  const auto* entry = reinterpret_cast<const Entry*>(table.data() + sizeof(ULONG_PTR));
  int64_t mine = 0;
  for (ULONG i = 0; i < entries; ++i) mine += entry[i].process == GetCurrentProcessId();
  return mine;
}

// The lowest free thread-local slot: the system hands out the lowest, so a slot kept grows it.
inline int64_t FirstFreeTlsSlot() {
  const DWORD slot = TlsAlloc();
  if (slot != TLS_OUT_OF_INDEXES) TlsFree(slot);
  return slot;
}

struct ProcessHoldings {
  int64_t handles, gdiObjects, tlsSlot, memory;
};
inline ProcessHoldings HeldNow() {
  return {KernelHandles(), int64_t(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)), FirstFreeTlsSlot(),
          int64_t(CommittedPrivateBytes())};
}

}  // namespace test
