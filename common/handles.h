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

  // Closes now and reports whether the close succeeded, for callers that log a failed close;
  // GetLastError is left as the close set it. True when nothing was held.
  [[nodiscard]] bool close() noexcept {
    return !valid() || Traits::Close(std::exchange(value_, Traits::Invalid()));
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
  static bool Close(Type h) noexcept { return ::CloseHandle(h) != FALSE; }
};

struct FileHandleTraits {  // CreateFileW results
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static bool Close(Type h) noexcept { return ::CloseHandle(h) != FALSE; }
};

struct FindHandleTraits {  // FindFirstFileW results
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static bool Close(Type h) noexcept { return ::FindClose(h) != FALSE; }
};

struct RegKeyTraits {
  using Type = HKEY;
  static Type Invalid() noexcept { return nullptr; }
  static bool Close(Type h) noexcept { return ::RegCloseKey(h) == ERROR_SUCCESS; }
};

struct ModuleTraits {  // LoadLibraryW results
  using Type = HMODULE;
  static Type Invalid() noexcept { return nullptr; }
  static bool Close(Type h) noexcept { return ::FreeLibrary(h) != FALSE; }
};

template <typename Handle>
struct GdiObjectTraits {  // HFONT, HBITMAP, HBRUSH, HPEN, HRGN: typed, so use sites need no casts
  using Type = Handle;
  static Type Invalid() noexcept { return nullptr; }
  static bool Close(Type h) noexcept { return ::DeleteObject(h) != FALSE; }
};

struct MemoryDcTraits {  // CreateCompatibleDC results
  using Type = HDC;
  static Type Invalid() noexcept { return nullptr; }
  static bool Close(Type h) noexcept { return ::DeleteDC(h) != FALSE; }
};

struct WindowTraits {  // windows this code created and destroys itself
  using Type = HWND;
  static Type Invalid() noexcept { return nullptr; }
  static bool Close(Type h) noexcept { return ::DestroyWindow(h) != FALSE; }
};

struct LocalMemoryTraits {  // memory the system allocated with LocalAlloc (CommandLineToArgvW)
  using Type = HLOCAL;
  static Type Invalid() noexcept { return nullptr; }
  static bool Close(Type h) noexcept { return ::LocalFree(h) == nullptr; }
};

template <typename Pointer>
struct CoTaskMemTraits {  // memory the shell or COM allocated with CoTaskMemAlloc
  using Type = Pointer;
  static Type Invalid() noexcept { return nullptr; }
  static bool Close(Type p) noexcept {
    ::CoTaskMemFree(p);
    return true;
  }
};

using KernelHandle = UniqueHandle<KernelHandleTraits>;
using FileHandle = UniqueHandle<FileHandleTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;
using RegKey = UniqueHandle<RegKeyTraits>;
using ModuleHandle = UniqueHandle<ModuleTraits>;
using GdiObject = UniqueHandle<GdiObjectTraits<HGDIOBJ>>;  // untyped, as the demo product uses it
using GdiFont = UniqueHandle<GdiObjectTraits<HFONT>>;
using GdiBitmap = UniqueHandle<GdiObjectTraits<HBITMAP>>;
using GdiBrush = UniqueHandle<GdiObjectTraits<HBRUSH>>;
using GdiPen = UniqueHandle<GdiObjectTraits<HPEN>>;
using GdiRegion = UniqueHandle<GdiObjectTraits<HRGN>>;
using MemoryDC = UniqueHandle<MemoryDcTraits>;
using WindowHandle = UniqueHandle<WindowTraits>;
using LocalMemory = UniqueHandle<LocalMemoryTraits>;
template <typename Pointer>
using CoTaskMemory = UniqueHandle<CoTaskMemTraits<Pointer>>;

// The two handles CreateProcessW returns in PROCESS_INFORMATION, each with its own owner.
struct ProcessHandles {
  KernelHandle process;
  KernelHandle thread;
};
[[nodiscard]] inline ProcessHandles OwnProcessHandles(const PROCESS_INFORMATION& info) noexcept {
  return ProcessHandles{KernelHandle(info.hProcess), KernelHandle(info.hThread)};
}

// Runs entry(parameter) on a new thread. The owner is empty when the thread could not be
// created, with GetLastError telling why; closing the owner does not stop the thread.
[[nodiscard]] inline KernelHandle StartThread(LPTHREAD_START_ROUTINE entry, void* parameter) noexcept {
  return KernelHandle(::CreateThread(nullptr, 0, entry, parameter, 0, nullptr));
}

// The DC of a window (of the screen with no window) from GetDC, released with ReleaseDC.
class WindowDC {
 public:
  WindowDC() noexcept = default;
  explicit WindowDC(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
  ~WindowDC() { reset(); }

  WindowDC(const WindowDC&) = delete;
  WindowDC& operator=(const WindowDC&) = delete;
  WindowDC(WindowDC&& other) noexcept : window_(other.window_), dc_(std::exchange(other.dc_, nullptr)) {}
  WindowDC& operator=(WindowDC&& other) noexcept {
    if (this != &other) {
      reset();
      window_ = other.window_;
      dc_ = std::exchange(other.dc_, nullptr);
    }
    return *this;
  }

  [[nodiscard]] HDC get() const noexcept { return dc_; }
  explicit operator bool() const noexcept { return dc_ != nullptr; }

  // Releases the DC (if any). GetLastError is preserved.
  void reset() noexcept {
    if (dc_) {
      const DWORD saved = ::GetLastError();
      ::ReleaseDC(window_, dc_);
      ::SetLastError(saved);
    }
    dc_ = nullptr;
  }

 private:
  HWND window_ = nullptr;
  HDC dc_ = nullptr;
};

// BeginPaint for the lifetime of the scope and EndPaint at its end (also when BeginPaint gave
// no DC, as the pair requires).
class PaintScope {
 public:
  explicit PaintScope(HWND window) noexcept : window_(window), dc_(::BeginPaint(window, &paint_)) {}
  ~PaintScope() {
    const DWORD saved = ::GetLastError();
    ::EndPaint(window_, &paint_);
    ::SetLastError(saved);
  }
  PaintScope(const PaintScope&) = delete;
  PaintScope& operator=(const PaintScope&) = delete;

  [[nodiscard]] HDC dc() const noexcept { return dc_; }
  [[nodiscard]] const PAINTSTRUCT& paint() const noexcept { return paint_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_{};
  HDC dc_;
};

// Selects an object into a DC and selects the previous one back at the end of the scope. A null
// object selects nothing.
class SelectScope {
 public:
  SelectScope(HDC dc, HGDIOBJ object) noexcept : dc_(dc), old_(object ? ::SelectObject(dc, object) : nullptr) {}
  ~SelectScope() {
    if (old_) {
      const DWORD saved = ::GetLastError();
      ::SelectObject(dc_, old_);
      ::SetLastError(saved);
    }
  }
  SelectScope(const SelectScope&) = delete;
  SelectScope& operator=(const SelectScope&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

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
