// Checked, converting file output; see OutputFile.h.
#include "export/OutputFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "platform/Text.h"

namespace vantrel {

namespace {

// Converted bytes are written in pieces of about this many bytes, so a large
// export neither holds a whole file in memory nor makes a system call per row.
constexpr size_t kFlushSize = 64 * 1024;

// Upper case without '-' and '_': "utf-16le" and "UTF16LE" compare equal.
std::string CanonicalName(const std::string& name) {
  std::string out;
  for (char c : name) {
    if (c == '-' || c == '_') continue;
    out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  return out;
}

}  // namespace

bool IsUnicodeEncodingName(const std::string& name) {
  const std::string canonical = CanonicalName(name);
  return canonical.rfind("UTF", 0) == 0 || canonical.rfind("UCS", 0) == 0;
}

OutputFile::OutputFile(std::string path, std::string encoding)
    : path_(std::move(path)), encoding_(std::move(encoding)) {
  const std::string canonical = CanonicalName(encoding_);
  if (canonical == "UTF8") {
    mode_ = 0;
  } else if (canonical == "UTF16LE") {
    mode_ = 1;
  } else if (canonical == "UTF16") {
    // iconv would put a mark before every converted piece; write little-endian
    // text behind one mark instead.
    mode_ = 1;
    mark_ = "\xFF\xFE";
  } else if (canonical == "UTF32" || canonical == "UCS4") {
    encoding_ = "UTF-32LE";
    mode_ = 2;
    mark_ = std::string("\xFF\xFE\0\0", 4);
  } else {
    mode_ = 2;
  }
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool OutputFile::Fail(int err) {
  failed_ = true;
  reason_ = std::strerror(err);
  return false;
}

bool OutputFile::Open() {
  if (mode_ == 2 && !IsKnownEncoding(encoding_)) {
    failed_ = true;
    reason_ = "unknown text encoding \"" + encoding_ + "\"";
    return false;
  }
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd_ < 0) return Fail(errno);
  pending_ = mark_;
  return true;
}

bool OutputFile::WriteAll(std::string_view bytes) {
  if (failed_ || fd_ < 0) return false;
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(errno);
    }
    if (n == 0) return Fail(EIO);
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool OutputFile::Flush() {
  if (failed_) return false;
  const bool ok = WriteAll(pending_);
  pending_.clear();
  return ok;
}

bool OutputFile::WriteBytes(std::string_view bytes) {
  if (failed_ || fd_ < 0) return false;
  // A large piece goes out as it is, after what is pending, not copied first.
  if (bytes.size() >= kFlushSize) return Flush() && WriteAll(bytes);
  pending_.append(bytes);
  return pending_.size() < kFlushSize || Flush();
}

bool OutputFile::Convert(std::string_view utf8, std::string& out) const {
  switch (mode_) {
    case 0:
      out.append(utf8);
      return true;
    case 1:
      AppendUtf8AsUtf16Le(utf8, out);
      return true;
    default: {
      // One piece (a row or a block) at a time: iconv rescans what follows a
      // character the code page lacks, so converting large batches would make
      // every emoji cost as much as the whole batch.
      std::string converted;
      if (!ConvertEncoding(utf8, "UTF-8", encoding_, converted)) return false;
      out += converted;
      return true;
    }
  }
}

bool OutputFile::WriteText(std::string_view utf8) {
  if (failed_ || fd_ < 0) return false;
  if (!Convert(utf8, pending_)) {
    failed_ = true;
    reason_ = "unknown text encoding \"" + encoding_ + "\"";
    return false;
  }
  return pending_.size() < kFlushSize || Flush();
}

bool OutputFile::Close() {
  if (fd_ < 0) return false;
  const bool flushed = Flush();
  const int fd = fd_;
  fd_ = -1;
  // A delayed write error (full disk on a network file system) shows up here.
  if (::close(fd) != 0 && flushed) return Fail(errno);
  return flushed;
}

}  // namespace vantrel
