// Move-only owners of Win32 handles: the handle is closed exactly once, by
// whoever owns it last.
#pragma once

#include <windows.h>

#include <utility>

// Traits: how a handle type is closed and what counts as "no handle".
struct KernelHandleTraits {
  using Handle = HANDLE;
  static bool IsValid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static Handle Null() { return nullptr; }
  static void Close(Handle h) { CloseHandle(h); }
};

struct ModuleHandleTraits {
  using Handle = HMODULE;
  static bool IsValid(Handle h) { return h != nullptr; }
  static Handle Null() { return nullptr; }
  static void Close(Handle h) { FreeLibrary(h); }
};

struct FindHandleTraits {
  using Handle = HANDLE;
  static bool IsValid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static Handle Null() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { FindClose(h); }
};

template <typename Traits>
class GenericScopedHandle {
 public:
  using Handle = typename Traits::Handle;

  GenericScopedHandle() : handle_(Traits::Null()) {}
  explicit GenericScopedHandle(Handle h) : handle_(Traits::IsValid(h) ? h : Traits::Null()) {}
  ~GenericScopedHandle() { Close(); }

  GenericScopedHandle(GenericScopedHandle&& other) noexcept : handle_(other.Take()) {}
  GenericScopedHandle& operator=(GenericScopedHandle&& other) noexcept {
    if (this != &other) Set(other.Take());
    return *this;
  }
  GenericScopedHandle(const GenericScopedHandle&) = delete;
  GenericScopedHandle& operator=(const GenericScopedHandle&) = delete;

  bool IsValid() const { return Traits::IsValid(handle_); }
  explicit operator bool() const { return IsValid(); }
  Handle Get() const { return handle_; }

  // Replaces the owned handle, closing the previous one.
  void Set(Handle h) {
    if (h == handle_) return;
    Close();
    handle_ = Traits::IsValid(h) ? h : Traits::Null();
  }
  // Gives up ownership without closing.
  Handle Take() {
    Handle h = handle_;
    handle_ = Traits::Null();
    return h;
  }
  void Close() {
    if (Traits::IsValid(handle_)) Traits::Close(handle_);
    handle_ = Traits::Null();
  }

 private:
  Handle handle_;
};

using ScopedHandle = GenericScopedHandle<KernelHandleTraits>;
using ScopedModule = GenericScopedHandle<ModuleHandleTraits>;
using ScopedFindHandle = GenericScopedHandle<FindHandleTraits>;
