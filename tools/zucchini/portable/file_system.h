// The file layer under the patcher's command line: inputs opened for random reads, outputs
// written under a temporary name and renamed into place only on Commit(), so a failed run never
// leaves a partial file behind. Paths are UTF-8. Platforms provide their own FileSystem.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tools/zucchini/portable/byte_io.h"

namespace oku::zucchini {

class OutputFile : public TargetSink {
 public:
  // Flushes, closes and renames the temporary file over the final path. Without a successful
  // Commit the destructor deletes the temporary file.
  virtual bool Commit(std::string* error) = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  virtual std::unique_ptr<RandomSource> OpenRead(const std::string& path, std::string* error) = 0;
  virtual std::unique_ptr<OutputFile> CreateOutput(const std::string& path, std::string* error) = 0;
};

// std::FILE based implementation (native builds and tools).
FileSystem& StdioFileSystem();

// Process exit codes of the patcher.
enum ExitCode : int {
  kExitOk = 0,
  kExitUsage = 1,
  kExitInput = 2,        // an input file cannot be opened or read
  kExitCorrupt = 3,      // the patch is malformed or uses unsupported features
  kExitChecksum = 4,     // the patch's checksum disagrees with the result
  kExitWrite = 5,        // the output cannot be created, written or renamed
  kExitInternal = 6,     // out of memory or another unexpected failure
  kExitWrongOld = 7,     // the old file is not the one the patch was made for
};

// Runs "-apply old patch new" or "-gen old new patch" (args without the program name). On
// failure *message holds one line for stderr.
int RunZucchini(const std::vector<std::string>& args, FileSystem& files, std::string* message);

}  // namespace oku::zucchini
