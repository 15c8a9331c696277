// Layer: platform
#include "platform/mapping_guard.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

namespace vorlund {
namespace {

struct GuardedView {
  std::atomic<std::uintptr_t> start{0};
  std::atomic<std::size_t> size{0};
  std::atomic<bool> cut{false};
};

std::array<GuardedView, 4> views;
// A slot being filled: no view starts there.
constexpr std::uintptr_t kTaken = 1;
struct sigaction previous {};
std::once_flag installed;
bool handlerInstalled = false;

std::size_t pageRounded(std::size_t size) {
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  return (size + page - 1) / page * page;
}

// Any thread, in the signal handler: only atomics and mmap, which is a plain system call.
void onBusError(int signal, siginfo_t* info, void* context) {
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  for (GuardedView& view : views) {
    const std::uintptr_t start = view.start.load();
    const std::size_t size = view.size.load();
    if (start <= kTaken || address < start || address - start >= size) continue;
    // Private zero pages at the same address: the faulting access runs again and succeeds.
    void* replaced = mmap(reinterpret_cast<void*>(start), size, PROT_READ | PROT_WRITE,
                          MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (replaced != MAP_FAILED) {
      view.cut.store(true);
      return;
    }
  }
  // Not ours: as before the guard, which ends the program (or calls the earlier handler).
  if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
    previous.sa_sigaction(signal, info, context);
    return;
  }
  if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN &&
      previous.sa_handler != nullptr) {
    previous.sa_handler(signal);
    return;
  }
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigaction(SIGBUS, &fallback, nullptr);
}

}  // namespace

bool guardView(void* view, std::size_t size) noexcept {
  std::call_once(installed, [] {
    struct sigaction action {};
    action.sa_sigaction = onBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    handlerInstalled = sigaction(SIGBUS, &action, &previous) == 0;
  });
  if (!handlerInstalled || view == nullptr) return false;
  for (GuardedView& slot : views) {
    // Taken with a placeholder first, so the handler never pairs this start with an old size.
    std::uintptr_t expected = 0;
    if (!slot.start.compare_exchange_strong(expected, kTaken)) continue;
    slot.size.store(pageRounded(size));
    slot.cut.store(false);
    slot.start.store(reinterpret_cast<std::uintptr_t>(view));
    return true;
  }
  return false;
}

void unguardView(void* view) noexcept {
  for (GuardedView& slot : views) {
    if (slot.start.load() == reinterpret_cast<std::uintptr_t>(view)) {
      slot.start.store(0);
      slot.cut.store(false);
    }
  }
}

bool viewWasCut(const void* view) noexcept {
  for (const GuardedView& slot : views)
    if (view != nullptr && slot.start.load() == reinterpret_cast<std::uintptr_t>(view))
      return slot.cut.load();
  return false;
}

}  // namespace vorlund
