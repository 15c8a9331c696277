// Layer: base
// An owned COM reference: released exactly once when it goes, moved but never copied. For
// hosts and tests that hold interfaces of the component; the component's own objects count
// their references by hand.
#pragma once

#include <utility>

namespace vorlund {

template <typename Interface>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  // Takes over a reference the caller owns (from CreateInstance or QueryInterface).
  explicit ComPtr(Interface* owned) noexcept : pointer_(owned) {}
  ~ComPtr() { reset(); }
  ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      pointer_ = std::exchange(other.pointer_, nullptr);
    }
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;

  Interface* get() const noexcept { return pointer_; }
  Interface* operator->() const noexcept { return pointer_; }
  Interface& operator*() const noexcept { return *pointer_; }
  explicit operator bool() const noexcept { return pointer_ != nullptr; }

  // Releases what is held and returns the slot for an out-parameter to fill.
  Interface** put() noexcept {
    reset();
    return &pointer_;
  }
  // Hands the reference back to the caller, who then releases it.
  Interface* detach() noexcept { return std::exchange(pointer_, nullptr); }
  void reset() noexcept {
    if (Interface* held = std::exchange(pointer_, nullptr)) held->Release();
  }

 private:
  Interface* pointer_ = nullptr;
};

}  // namespace vorlund
