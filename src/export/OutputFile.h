// One export file being written: created or truncated, text appended as UTF-8
// and converted on the way out to the file's encoding (UTF-16LE for CSV, the
// chosen code page for TXT). Every write and the close are checked, so a full
// disk or a vanished folder is reported instead of a silently short file.
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

class OutputFile {
 public:
  // encoding: an iconv name; "UTF-8" passes text through, "UTF-16LE" uses the
  // built-in converter, anything else goes through iconv with '?' for what the
  // code page cannot hold. "UTF-16" and "UTF-32" without a byte order are
  // written little-endian behind one byte-order mark.
  OutputFile(std::string path, std::string encoding);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates or truncates the file. False (with reason()) when it cannot be
  // created or the encoding is unknown.
  bool Open();
  // Bytes written as they are (a byte-order mark).
  bool WriteBytes(std::string_view bytes);
  // UTF-8 text, converted to the file's encoding piece by piece. Pieces must
  // end on character boundaries (whole rows and blocks do).
  bool WriteText(std::string_view utf8);
  // Converts UTF-8 text as WriteText would, appending to out, for text made
  // ready on another thread (safe beside writes); false when the encoding is
  // unknown. WriteBytes then writes it.
  bool Convert(std::string_view utf8, std::string& out) const;
  // Writes what is pending and closes; false when either fails.
  bool Close();

  const std::string& path() const { return path_; }
  // Why the last operation failed (strerror text or an encoding problem).
  const std::string& reason() const { return reason_; }

 private:
  bool Flush();
  bool WriteAll(std::string_view bytes);
  bool Fail(int err);

  std::string path_;
  std::string encoding_;
  int mode_ = 0;      // 0 UTF-8, 1 UTF-16LE, 2 iconv
  std::string mark_;  // byte-order mark the file starts with, if any
  int fd_ = -1;
  bool failed_ = false;
  std::string pending_;  // converted bytes not yet written
  std::string reason_;
};

// True for any UTF or UCS encoding name, where a character's bytes say nothing
// of its width on screen.
bool IsUnicodeEncodingName(const std::string& name);

}  // namespace vantrel
