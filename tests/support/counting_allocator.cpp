#include "counting_allocator.h"

#include <cstdlib>
#include <new>

namespace vorlund::test {

std::atomic<long> allocationCount{0};
std::atomic<long> failCountdown{0};
std::atomic<bool> failureHappened{false};

}  // namespace vorlund::test

namespace {

using vorlund::test::allocationCount;
using vorlund::test::failCountdown;
using vorlund::test::failureHappened;

void* allocate(std::size_t size) {
  allocationCount.fetch_add(1, std::memory_order_relaxed);
  if (failCountdown.load() > 0 && failCountdown.fetch_sub(1) == 1) {
    failureHappened = true;
    return nullptr;
  }
  return std::malloc(size == 0 ? 1 : size);
}

void* allocateOrThrow(std::size_t size) {
  if (void* p = allocate(size)) return p;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) {
  return allocateOrThrow(size);
}
void* operator new[](std::size_t size) {
  return allocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return allocate(size);
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
