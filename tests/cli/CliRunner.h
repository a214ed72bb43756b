// Runs the real vantrel-cli executable (VANTREL_CLI_PATH, set by the test's
// CMake target) as a user would, through the shell, capturing both streams.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "fixtures/Fixtures.h"

namespace vantrel::testing {

struct CliRun {
  int status = -1;
  std::string out, err;
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
};

inline std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// prefix runs first in the same shell: "TZ=Asia/Shanghai ", "ulimit -f 4; ".
inline CliRun RunCli(const std::vector<std::string>& args, const std::string& prefix = "") {
  static int counter = 0;
  const std::string base =
      (std::filesystem::temp_directory_path() /
       ("vantrel-cli-run-" + std::to_string(::getpid()) + "-" + std::to_string(counter++)))
          .string();
  std::string cmd = prefix + ShellQuote(VANTREL_CLI_PATH);
  for (const auto& a : args) cmd += " " + ShellQuote(a);
  cmd += " >" + ShellQuote(base + ".out") + " 2>" + ShellQuote(base + ".err");
  CliRun r;
  const int raw = std::system(("sh -c " + ShellQuote(cmd)).c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = fixtures::ReadFileBytes(base + ".out");
  r.err = fixtures::ReadFileBytes(base + ".err");
  std::filesystem::remove(base + ".out");
  std::filesystem::remove(base + ".err");
  return r;
}

}  // namespace vantrel::testing
