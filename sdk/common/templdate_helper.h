// CTempldateHelper: holds the interface of one of our component libraries.
// Either it loads the library itself (by file name), looks up the library's
// create function and asks it for the interface of a given identifier and
// version; or it wraps an interface the caller got from elsewhere. A loaded
// interface is released, and its library freed, when the helper goes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <type_traits>
#include <utility>

#ifndef LUMORA_STDCALL
#define LUMORA_STDCALL __stdcall
#endif

namespace templdate_detail {
template <class T, class = void>
struct HasRelease : std::false_type {};
template <class T>
struct HasRelease<T, std::void_t<decltype(std::declval<T*>()->Release())>> : std::true_type {};
}  // namespace templdate_detail

template <class T>
class CTempldateHelper {
 public:
  // The library's create function: the interface, or null.
  typedef T*(LUMORA_STDCALL* CreateFunction)(const GUID* iid, uint32_t version);

  // A loader for `library`'s export `createName` (nothing is loaded yet).
  CTempldateHelper(const char* createName, const char* library, const GUID* iid,
                   uint32_t version)
      : createName_(createName), library_(library), iid_(iid), version_(version) {}
  // Wraps an interface owned elsewhere; it is never released here.
  explicit CTempldateHelper(T* borrowed = nullptr) : instance_(borrowed) {}

  ~CTempldateHelper() { Unload(); }
  CTempldateHelper(const CTempldateHelper&) = delete;
  CTempldateHelper& operator=(const CTempldateHelper&) = delete;

  // Releases what is held, then loads the library, looks up the create
  // function and creates the interface. False when any step fails (an
  // exception included); nothing is held then.
  bool LoadComponent() {
    Unload();
    if (library_ == nullptr || createName_ == nullptr) return false;
    try {
      module_ = LoadLibraryA(library_);
      if (module_ == nullptr) return false;
      auto create = reinterpret_cast<CreateFunction>(
          reinterpret_cast<void*>(GetProcAddress(module_, createName_)));
      if (create != nullptr) instance_ = create(iid_, version_);
    } catch (...) {
      instance_ = nullptr;
    }
    if (instance_ == nullptr) {
      Unload();
      return false;
    }
    owned_ = true;
    return true;
  }

  // Releases a loaded interface, then frees its library, in that order.
  void Unload() {
    if constexpr (templdate_detail::HasRelease<T>::value) {
      if (owned_ && instance_ != nullptr) instance_->Release();
    }
    instance_ = nullptr;
    owned_ = false;
    if (module_ != nullptr) FreeLibrary(module_);
    module_ = nullptr;
  }

  bool IsValid() const { return instance_ != nullptr; }
  T* operator->() const { return instance_; }
  T* Get() const { return instance_; }

 private:
  // In this order: the create function's name, the library's file name, its
  // handle, the interface identifier, the interface version, the interface.
  const char* createName_ = nullptr;
  const char* library_ = nullptr;
  HMODULE module_ = nullptr;
  const GUID* iid_ = nullptr;
  uint32_t version_ = 0;
  T* instance_ = nullptr;
  bool owned_ = false;
};
