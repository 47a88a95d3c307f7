// Move-only owners for the Windows handles both programs use. Each kind states its invalid
// value explicitly; closing never disturbs the caller's GetLastError.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

namespace oku {

template <typename Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;

  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Type value) noexcept : value_(value) {}
  ~UniqueHandle() { reset(); }

  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  [[nodiscard]] Type get() const noexcept { return value_; }
  [[nodiscard]] bool valid() const noexcept { return value_ != Traits::Invalid(); }
  explicit operator bool() const noexcept { return valid(); }

  // Closes the held handle (if any) and takes ownership of value. GetLastError is preserved.
  void reset(Type value = Traits::Invalid()) noexcept {
    if (valid()) {
      const DWORD saved = ::GetLastError();
      Traits::Close(value_);
      ::SetLastError(saved);
    }
    value_ = value;
  }

  // Gives up ownership without closing.
  [[nodiscard]] Type release() noexcept { return std::exchange(value_, Traits::Invalid()); }

  // For APIs that return a handle through an out parameter; closes the current one first.
  Type* put() noexcept {
    reset();
    return &value_;
  }

 private:
  Type value_ = Traits::Invalid();
};

struct KernelHandleTraits {  // processes, threads, events, mutexes, snapshots, tokens
  using Type = HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ::CloseHandle(h); }
};

struct FileHandleTraits {  // CreateFileW results
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { ::CloseHandle(h); }
};

struct FindHandleTraits {  // FindFirstFileW results
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { ::FindClose(h); }
};

struct RegKeyTraits {
  using Type = HKEY;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ::RegCloseKey(h); }
};

struct ModuleTraits {  // LoadLibraryW results
  using Type = HMODULE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ::FreeLibrary(h); }
};

struct GdiObjectTraits {  // bitmaps, fonts, brushes, pens, regions
  using Type = HGDIOBJ;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ::DeleteObject(h); }
};

struct LocalMemoryTraits {  // memory the system allocated with LocalAlloc (CommandLineToArgvW)
  using Type = HLOCAL;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ::LocalFree(h); }
};

using KernelHandle = UniqueHandle<KernelHandleTraits>;
using FileHandle = UniqueHandle<FileHandleTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;
using RegKey = UniqueHandle<RegKeyTraits>;
using ModuleHandle = UniqueHandle<ModuleTraits>;
using GdiObject = UniqueHandle<GdiObjectTraits>;
using LocalMemory = UniqueHandle<LocalMemoryTraits>;

// One COM apartment on the calling thread: uninitialises only what it initialised.
class ComApartment {
 public:
  explicit ComApartment(DWORD model = COINIT_APARTMENTTHREADED) noexcept
      : result_(::CoInitializeEx(nullptr, model)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) ::CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

  [[nodiscard]] HRESULT result() const noexcept { return result_; }
  [[nodiscard]] bool ok() const noexcept { return SUCCEEDED(result_); }

 private:
  HRESULT result_;
};

// Releases a COM interface pointer when it goes out of scope.
template <typename T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ~ComPtr() { reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      ptr_ = std::exchange(other.ptr_, nullptr);
    }
    return *this;
  }

  T* get() const noexcept { return ptr_; }
  T* operator->() const noexcept { return ptr_; }
  explicit operator bool() const noexcept { return ptr_ != nullptr; }
  T** put() noexcept {
    reset();
    return &ptr_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
  void reset() noexcept {
    if (ptr_) {
      ptr_->Release();
      ptr_ = nullptr;
    }
  }

 private:
  T* ptr_ = nullptr;
};

}  // namespace oku
