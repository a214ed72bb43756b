// A file opened for reading only. Every read names its offset (pread), so no
// shared file position exists, and a short read is reported to the caller.
// Nothing in Vantrel ever opens a backup file any other way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantrel {

class ReadOnlyFile {
 public:
  ReadOnlyFile() = default;
  ~ReadOnlyFile();
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
  ReadOnlyFile(ReadOnlyFile&& other) noexcept;
  ReadOnlyFile& operator=(ReadOnlyFile&& other) noexcept;

  // Opens path with O_RDONLY; closes whatever was open before. False when the
  // file cannot be opened (lastError() then says why) or names a directory.
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

  // Reads up to n bytes at offset into dest. Returns the number of bytes read:
  // less than n at the end of the file or on an error, never more.
  size_t ReadAt(uint64_t offset, void* dest, size_t n) const;
  // True only when exactly n bytes were read.
  bool ReadExact(uint64_t offset, void* dest, size_t n) const {
    return ReadAt(offset, dest, n) == n;
  }

  // The file's size when it was opened: the readers ask for it at every
  // page, and a file that changes while it is read is measured once.
  uint64_t Size() const { return size_; }
  const std::string& path() const { return path_; }
  const std::string& lastError() const { return lastError_; }

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
  std::string path_;
  std::string lastError_;
};

// A file that lives only in memory (an anonymous memfd): what Vantrel
// deciphers from an encrypted backup is written here, never to any disk, and
// read back through path() like any file, so the readers need not know. The
// memory goes when the last descriptor on it closes (this object's, and any
// ReadOnlyFile opened on path()).
class MemoryFile {
 public:
  MemoryFile() = default;
  ~MemoryFile();
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  MemoryFile(MemoryFile&& other) noexcept;
  MemoryFile& operator=(MemoryFile&& other) noexcept;

  // A new empty file; name is only a label (shown in /proc). False when the
  // system refuses (lastError() says why).
  bool Create(const std::string& name);
  // Appends bytes; false on an error (out of memory).
  bool Append(const void* bytes, size_t n);
  // Seals the file against any further write, shrink or growth.
  bool Seal();
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  uint64_t Size() const { return size_; }
  // "/proc/self/fd/<n>": opens the same memory read-only.
  const std::string& path() const { return path_; }
  const std::string& lastError() const { return lastError_; }

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
  std::string path_;
  std::string lastError_;
};

// Path kinds, as the loaders and the discovery code ask for them.
bool PathExists(const std::string& path);
bool IsDirectory(const std::string& path);
bool IsRegularFile(const std::string& path);

// Reads a whole (small) file into out; false with a reason when it cannot.
bool ReadWholeFile(const std::string& path, std::string& out, std::string* error = nullptr);

}  // namespace vantrel
