#pragma once

#include <cstdint>

// In a program that links vxa_allocation_count, every allocation of the process passes through
// the operator new and delete of AllocationCount.cpp and is counted.

namespace vxa::test {

// Allocations the whole process has made so far, on every thread.
uint64_t ProcessAllocations();

// Counts the allocations of the calling thread from StartCountingThreadAllocations (which starts
// from zero) to StopCountingThreadAllocations, which returns the count.
void StartCountingThreadAllocations();
uint64_t StopCountingThreadAllocations();

}  // namespace vxa::test
