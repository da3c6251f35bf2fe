#include "tests/support/AllocationCount.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<uint64_t> gProcessAllocations{0};
thread_local bool gCountingThread = false;
thread_local uint64_t gThreadAllocations = 0;

void* CountedAllocation(std::size_t size) {
  gProcessAllocations.fetch_add(1, std::memory_order_relaxed);
  if (gCountingThread) ++gThreadAllocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) {
  return CountedAllocation(size);
}
void* operator new[](std::size_t size) {
  return CountedAllocation(size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}

namespace vxa::test {

uint64_t ProcessAllocations() {
  return gProcessAllocations.load(std::memory_order_relaxed);
}

void StartCountingThreadAllocations() {
  gThreadAllocations = 0;
  gCountingThread = true;
}

uint64_t StopCountingThreadAllocations() {
  gCountingThread = false;
  return gThreadAllocations;
}

}  // namespace vxa::test
