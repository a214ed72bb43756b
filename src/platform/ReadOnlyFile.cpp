#include "platform/ReadOnlyFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

namespace vantrel {

ReadOnlyFile::~ReadOnlyFile() {
  Close();
}

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      size_(std::exchange(other.size_, 0)),
      path_(std::move(other.path_)),
      lastError_(std::move(other.lastError_)) {}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    size_ = std::exchange(other.size_, 0);
    path_ = std::move(other.path_);
    lastError_ = std::move(other.lastError_);
  }
  return *this;
}

bool ReadOnlyFile::Open(const std::string& path) {
  Close();
  lastError_.clear();
  if (path.empty()) {
    lastError_ = "empty path";
    return false;
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    lastError_ = std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    lastError_ = S_ISDIR(st.st_mode) ? "is a directory" : std::strerror(errno);
    ::close(fd);
    return false;
  }
  fd_ = fd;
  size_ = static_cast<uint64_t>(st.st_size);
  path_ = path;
  return true;
}

void ReadOnlyFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  size_ = 0;
  path_.clear();
}

size_t ReadOnlyFile::ReadAt(uint64_t offset, void* dest, size_t n) const {
  if (fd_ < 0 || n == 0) return 0;
  auto* out = static_cast<unsigned char*>(dest);
  size_t done = 0;
  while (done < n) {
    ssize_t got = ::pread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

bool PathExists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::exists(path, ec);
}

bool IsDirectory(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::is_directory(path, ec);
}

bool IsRegularFile(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

bool ReadWholeFile(const std::string& path, std::string& out, std::string* error) {
  ReadOnlyFile f;
  if (!f.Open(path)) {
    if (error) *error = f.lastError();
    return false;
  }
  uint64_t size = f.Size();
  out.assign(static_cast<size_t>(size), '\0');
  size_t got = f.ReadAt(0, out.data(), out.size());
  if (got != out.size()) {
    out.resize(got);
    if (error) *error = "short read";
    return false;
  }
  return true;
}

MemoryFile::~MemoryFile() {
  Close();
}

MemoryFile::MemoryFile(MemoryFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      size_(std::exchange(other.size_, 0)),
      path_(std::move(other.path_)),
      lastError_(std::move(other.lastError_)) {}

MemoryFile& MemoryFile::operator=(MemoryFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    size_ = std::exchange(other.size_, 0);
    path_ = std::move(other.path_);
    lastError_ = std::move(other.lastError_);
  }
  return *this;
}

bool MemoryFile::Create(const std::string& name) {
  Close();
  lastError_.clear();
  const int fd = ::memfd_create(name.c_str(), MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (fd < 0) {
    lastError_ = std::strerror(errno);
    return false;
  }
  fd_ = fd;
  size_ = 0;
  path_ = "/proc/self/fd/" + std::to_string(fd);
  return true;
}

bool MemoryFile::Append(const void* bytes, size_t n) {
  const char* p = static_cast<const char*>(bytes);
  while (n > 0) {
    const ssize_t written = ::pwrite(fd_, p, n, static_cast<off_t>(size_));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      lastError_ = written < 0 ? std::strerror(errno) : "nothing written";
      return false;
    }
    p += written;
    n -= static_cast<size_t>(written);
    size_ += static_cast<uint64_t>(written);
  }
  return true;
}

bool MemoryFile::Seal() {
  if (::fcntl(fd_, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_GROW | F_SEAL_SHRINK | F_SEAL_SEAL) != 0) {
    lastError_ = std::strerror(errno);
    return false;
  }
  return true;
}

void MemoryFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  size_ = 0;
  path_.clear();
}

}  // namespace vantrel
