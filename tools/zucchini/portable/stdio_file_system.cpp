// std::FILE implementation of the patcher's file layer for native builds.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/zucchini/portable/file_system.h"

namespace oku::zucchini {

namespace {

bool Seek(std::FILE* file, uint64_t offset, int whence) {
#ifdef _WIN32
  return _fseeki64(file, static_cast<long long>(offset), whence) == 0;
#else
  return fseeko(file, static_cast<off_t>(offset), whence) == 0;
#endif
}

uint64_t Tell(std::FILE* file) {
#ifdef _WIN32
  return static_cast<uint64_t>(_ftelli64(file));
#else
  return static_cast<uint64_t>(ftello(file));
#endif
}

std::string Describe(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

class StdioSource : public RandomSource {
 public:
  StdioSource(std::FILE* file, uint64_t size) : file_(file), size_(size) {}
  ~StdioSource() override { std::fclose(file_); }
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, uint8_t* buffer, size_t length) override {
    if (offset > size_ || length > size_ - offset) return false;
    if (length == 0) return true;
    if (offset != position_ && !Seek(file_, offset, SEEK_SET)) return false;
    const size_t n = std::fread(buffer, 1, length, file_);
    position_ = offset + n;
    return n == length;
  }

 private:
  std::FILE* file_;
  uint64_t size_;
  uint64_t position_ = 0;
};

class StdioOutput : public OutputFile {
 public:
  StdioOutput(std::FILE* file, std::string temp, std::string final)
      : file_(file), temp_(std::move(temp)), final_(std::move(final)) {}
  ~StdioOutput() override {
    if (file_ != nullptr) std::fclose(file_);
    if (!committed_) std::remove(temp_.c_str());
  }

  bool Write(const uint8_t* data, size_t length) override {
    if (failed_) return false;
    if (reading_) {
      if (!Seek(file_, 0, SEEK_END)) return failed_ = true, false;
      reading_ = false;
    }
    if (length != 0 && std::fwrite(data, 1, length, file_) != length) return failed_ = true, false;
    size_ += length;
    return true;
  }
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, uint8_t* buffer, size_t length) override {
    if (failed_ || offset > size_ || length > size_ - offset) return false;
    if (length == 0) return true;
    if (!reading_ && std::fflush(file_) != 0) return failed_ = true, false;
    reading_ = true;
    if (!Seek(file_, offset, SEEK_SET)) return false;
    return std::fread(buffer, 1, length, file_) == length;
  }
  bool Commit(std::string* error) override {
    const bool flushed = !failed_ && std::fflush(file_) == 0 && !std::ferror(file_);
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!flushed || !closed) {
      *error = Describe("cannot write", temp_);
      return false;
    }
    if (std::rename(temp_.c_str(), final_.c_str()) != 0) {
      *error = Describe("cannot rename the output to", final_);
      return false;
    }
    committed_ = true;
    return true;
  }

 private:
  std::FILE* file_;
  std::string temp_;
  std::string final_;
  uint64_t size_ = 0;
  bool reading_ = false;
  bool failed_ = false;
  bool committed_ = false;
};

class StdioFiles : public FileSystem {
 public:
  std::unique_ptr<RandomSource> OpenRead(const std::string& path, std::string* error) override {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
      *error = Describe("cannot open", path);
      return nullptr;
    }
    if (!Seek(file, 0, SEEK_END)) {
      *error = Describe("cannot read", path);
      std::fclose(file);
      return nullptr;
    }
    const uint64_t size = Tell(file);
    Seek(file, 0, SEEK_SET);
    return std::make_unique<StdioSource>(file, size);
  }

  std::unique_ptr<OutputFile> CreateOutput(const std::string& path, std::string* error) override {
    std::string temp = path + ".zucchini-partial";
    std::FILE* file = std::fopen(temp.c_str(), "w+b");
    if (file == nullptr) {
      *error = Describe("cannot create", temp);
      return nullptr;
    }
    return std::make_unique<StdioOutput>(file, std::move(temp), path);
  }
};

}  // namespace

FileSystem& StdioFileSystem() {
  static StdioFiles files;
  return files;
}

}  // namespace oku::zucchini
