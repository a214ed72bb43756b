// Helpers shared by the export tests: temporary folders, whole-file reads, and
// Python as an independent reader (its csv module, its codecs, its zoneinfo),
// so expectations do not come from the code under test.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "export/Exporter.h"

namespace vantrel::testing {

namespace fs = std::filesystem;

// A fresh folder under the system temp folder, removed afterwards.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "vantrel-export-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  std::string Path() const { return path_.string(); }

 private:
  fs::path path_;
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

inline std::string FromHex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// Runs a Python program (written to a temp file) and returns what it printed.
inline std::string RunPython(const std::string& program) {
  TempFolder dir;
  const std::string script = dir.File("script.py");
  const std::string output = dir.File("out.txt");
  WriteAll(script, program);
  const std::string cmd = "python3 " + script + " > " + output;
  EXPECT_EQ(std::system(cmd.c_str()), 0) << program;
  return ReadAll(output);
}

// The bytes a Python expression evaluates to (a bytes object).
inline std::string PythonBytes(const std::string& expression) {
  std::string hex = RunPython("import sys\nsys.stdout.write((" + expression + ").hex())\n");
  return FromHex(hex);
}

// A CSV file read back by Python's csv module after decoding it as UTF-16
// (the mark FF FE must be there for 'utf-16' to give little-endian text).
inline std::vector<std::vector<std::string>> ReadCsvWithPython(const std::string& path) {
  const std::string out = RunPython(
      "import csv, sys\n"
      "raw = open(r'" +
      path +
      "', 'rb').read()\n"
      "assert raw[:2] == b'\\xff\\xfe'\n"
      "text = raw.decode('utf-16')\n"
      "import io\n"
      "for row in csv.reader(io.StringIO(text, newline='')):\n"
      "    print(' '.join('.' + f.encode('utf-8').hex() for f in row))\n");
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> row;
    std::istringstream fields(line);
    std::string f;
    while (fields >> f) row.push_back(FromHex(f.substr(1)));
    rows.push_back(row);
  }
  return rows;
}

// UTF-16LE bytes of ASCII text, built by hand.
inline std::string AsciiUtf16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

// Records every question and notice of the export commands, answering from presets.
class RecordingDialogs : public ExportDialogs {
 public:
  std::optional<std::string> saveAnswer;
  std::optional<std::string> folderAnswer;
  std::vector<std::string> askedNames, askedTitles, errors;
  std::vector<FileFilters> askedFilters;
  int doneCount = 0;

  std::optional<std::string> AskSaveFile(const std::string& defaultName,
                                         const FileFilters& filters) override {
    askedNames.push_back(defaultName);
    askedFilters.push_back(filters);
    return saveAnswer;
  }
  std::optional<std::string> AskFolder(const std::string& title) override {
    askedTitles.push_back(title);
    return folderAnswer;
  }
  void ShowDone() override { ++doneCount; }
  void ShowError(const std::string& text) override { errors.push_back(text); }
};

}  // namespace vantrel::testing

namespace vantrel::testing {

// UTF-8 text encoded by Python's own GBK codec, with '?' for what GBK lacks.
inline std::string PythonGbk(const std::string& utf8) {
  TempFolder dir;
  const std::string in = dir.File("in.txt");
  WriteAll(in, utf8);
  return PythonBytes("open(r'" + in +
                     "', encoding='utf-8', newline='').read().encode('gbk', "
                     "errors='replace')");
}

}  // namespace vantrel::testing
