#include "tools/zucchini/win_file_system.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/handles.h"
#include "common/portable/text.h"

namespace oku::zucchini {

namespace {

std::string Describe(const std::string& what, const std::string& path, DWORD error) {
  return what + " " + path + " (error " + std::to_string(error) + ")";
}

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED o{};
  o.Offset = static_cast<DWORD>(offset);
  o.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return o;
}

// Positioned reads and writes; they never depend on the handle's file pointer.
bool ReadFully(HANDLE file, uint64_t offset, uint8_t* buffer, size_t length) {
  while (length > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(length, size_t{1} << 30));
    OVERLAPPED o = At(offset);
    DWORD got = 0;
    if (!::ReadFile(file, buffer, chunk, &got, &o) || got == 0) return false;
    buffer += got;
    offset += got;
    length -= got;
  }
  return true;
}

bool WriteFully(HANDLE file, uint64_t offset, const uint8_t* data, size_t length) {
  while (length > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(length, size_t{1} << 30));
    OVERLAPPED o = At(offset);
    DWORD put = 0;
    if (!::WriteFile(file, data, chunk, &put, &o) || put == 0) return false;
    data += put;
    offset += put;
    length -= put;
  }
  return true;
}

class Win32Source : public RandomSource {
 public:
  Win32Source(FileHandle file, uint64_t size) : file_(std::move(file)), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, uint8_t* buffer, size_t length) override {
    if (offset > size_ || length > size_ - offset) return false;
    return ReadFully(file_.get(), offset, buffer, length);
  }

 private:
  FileHandle file_;
  uint64_t size_;
};

class Win32Output : public OutputFile {
 public:
  Win32Output(FileHandle file, std::wstring temp, std::wstring final, std::string finalUtf8)
      : file_(std::move(file)), temp_(std::move(temp)), final_(std::move(final)), finalUtf8_(std::move(finalUtf8)) {
    buffer_.reserve(kBufferSize);
  }
  ~Win32Output() override {
    file_.reset();
    if (!committed_) ::DeleteFileW(temp_.c_str());
  }

  bool Write(const uint8_t* data, size_t length) override {
    if (failed_) return false;
    if (buffer_.size() + length > kBufferSize && !FlushBuffer()) return false;
    if (length >= kBufferSize) {
      if (!WriteFully(file_.get(), flushed_, data, length)) return Failed();
      flushed_ += length;
    } else {
      buffer_.insert(buffer_.end(), data, data + length);
    }
    return true;
  }
  uint64_t Size() const override { return flushed_ + buffer_.size(); }
  bool ReadAt(uint64_t offset, uint8_t* buffer, size_t length) override {
    if (failed_ || offset > Size() || length > Size() - offset) return false;
    if (offset + length > flushed_ && !FlushBuffer()) return false;
    return ReadFully(file_.get(), offset, buffer, length);
  }
  bool Commit(std::string* error) override {
    if (!FlushBuffer()) {
      *error = Describe("cannot write", finalUtf8_, error_);
      return false;
    }
    file_.reset();
    if (!::MoveFileExW(temp_.c_str(), final_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
      *error = Describe("cannot rename the output to", finalUtf8_, ::GetLastError());
      return false;
    }
    committed_ = true;
    return true;
  }

 private:
  static constexpr size_t kBufferSize = size_t{1} << 20;

  bool Failed() {
    error_ = ::GetLastError();
    failed_ = true;
    return false;
  }
  bool FlushBuffer() {
    if (failed_) return false;
    if (buffer_.empty()) return true;
    if (!WriteFully(file_.get(), flushed_, buffer_.data(), buffer_.size())) return Failed();
    flushed_ += buffer_.size();
    buffer_.clear();
    return true;
  }

  FileHandle file_;
  std::wstring temp_;
  std::wstring final_;
  std::string finalUtf8_;
  std::vector<uint8_t> buffer_;
  uint64_t flushed_ = 0;
  DWORD error_ = 0;
  bool failed_ = false;
  bool committed_ = false;
};

class Win32Files : public FileSystem {
 public:
  std::unique_ptr<RandomSource> OpenRead(const std::string& path, std::string* error) override {
    FileHandle file(::CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      *error = Describe("cannot open", path, ::GetLastError());
      return nullptr;
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size)) {
      *error = Describe("cannot read", path, ::GetLastError());
      return nullptr;
    }
    return std::make_unique<Win32Source>(std::move(file), static_cast<uint64_t>(size.QuadPart));
  }

  std::unique_ptr<OutputFile> CreateOutput(const std::string& path, std::string* error) override {
    std::wstring final = WideFromUtf8(path);
    std::wstring temp = final + L".zucchini-partial";
    FileHandle file(::CreateFileW(temp.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      *error = Describe("cannot create", path + ".zucchini-partial", ::GetLastError());
      return nullptr;
    }
    return std::make_unique<Win32Output>(std::move(file), std::move(temp), std::move(final), path);
  }
};

}  // namespace

FileSystem& Win32FileSystem() {
  static Win32Files files;
  return files;
}

}  // namespace oku::zucchini
