// Deleted messages only the GUID index names, as vantrel-cli shows them: the
// records command's lines, summary's last line, and the exports, which leave
// them out unless --traces asks. The database is written by SQLite (a whole
// conversation and scattered rows deleted, the freed table pages written
// over); which GUIDs are traces is derived from the file and SQLite.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CliRunner.h"
#include "fixtures/Fixtures.h"

namespace vantrel {
namespace {

namespace fx = fixtures;
using testing::RunCli;
using testing::ShellQuote;

const std::string kChecker = std::string(VANTREL_SOURCE_DIR) + "/tests/cli/report_check.py";
const std::string kSchema = std::string(VANTREL_SOURCE_DIR) + "/docs/vantrel-export.schema.json";

std::string Checker(const std::vector<std::string>& args) {
  std::string command = "python3 " + ShellQuote(kChecker);
  for (const std::string& a : args) command += " " + ShellQuote(a);
  std::string out;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  pclose(pipe);
  return out;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, '\t')) fields.push_back(field);
  if (!line.empty() && line.back() == '\t') fields.push_back("");
  return fields;
}

// text as a UTF-16LE CSV file holds it (ASCII only).
std::string Utf16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

class TracesCli : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new fx::TempDir("vantrel-traces-cli");
    path_ = new std::string(dir_->File("sms.db"));
    truth_ = new fx::IndexTraceTruth(fx::BuildIndexTraceMessages(*path_, 4096, 40));
    expected_ = new std::set<std::string>(fx::ExpectedIndexTraces(*path_, *truth_));
  }
  static void TearDownTestSuite() {
    delete expected_;
    delete truth_;
    delete path_;
    delete dir_;
  }
  static inline fx::TempDir* dir_ = nullptr;
  static inline std::string* path_ = nullptr;
  static inline fx::IndexTraceTruth* truth_ = nullptr;
  static inline std::set<std::string>* expected_ = nullptr;
};

TEST_F(TracesCli, RecordsAndSummaryListEachTraceWithItsRowidAndPlace) {
  ASSERT_FALSE(expected_->empty());
  const auto run = RunCli({"records", *path_, "traces"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string bytes = fx::ReadFileBytes(*path_);
  std::set<std::string> listed;
  for (const std::string& line : run.Lines()) {
    const std::vector<std::string> f = Fields(line);
    ASSERT_EQ(f.size(), 8u) << line;
    listed.insert(f[0]);
    // The rowid SQLite gave it, or empty when its bytes were written over.
    if (!f[1].empty()) EXPECT_EQ(f[1], std::to_string(truth_->rowidOf.at(f[0]))) << line;
    EXPECT_EQ(f[2], "content lost");
    EXPECT_EQ(f[3], *path_);
    EXPECT_EQ(bytes.substr(std::stoull(f[5]), 36), f[0]) << line;
    EXPECT_TRUE(f[6] == "freeblock" || f[6] == "gap" || f[6] == "leaf-page" ||
                f[6] == "free-page" || f[6] == "index-only")
        << line;
  }
  EXPECT_EQ(listed, *expected_);
  EXPECT_EQ(run.Lines().size(), listed.size());  // each once

  // --grep finds one by part of its GUID; a date range has nothing to match.
  const std::string some = *expected_->begin();
  const auto grep = RunCli({"records", *path_, "traces", "--grep", some.substr(0, 8)});
  ASSERT_EQ(grep.Lines().size(), 1u);
  EXPECT_EQ(Fields(grep.Lines()[0])[0], some);
  EXPECT_TRUE(RunCli({"records", *path_, "traces", "--since", "2001-01-01"}).out.empty());

  // summary: the nodes as before, then one more line at the end.
  const auto summary = RunCli({"summary", *path_, "--quiet"});
  ASSERT_EQ(summary.status, 0) << summary.err;
  const std::vector<std::string> lines = summary.Lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0].rfind("短信/删除数据\t", 0), 0u);
  EXPECT_EQ(lines[1].rfind("短信/现存数据\t", 0), 0u);
  EXPECT_EQ(lines.back(), "短信/仅存索引\t" + std::to_string(expected_->size()));
}

TEST_F(TracesCli, ExportsLeaveTracesOutUnlessAsked) {
  for (const char* format : {"csv", "txt"}) {
    SCOPED_TRACE(format);
    const bool csv = format[0] == 'c';
    const std::string ext = csv ? "CSV" : "txt";
    fx::TempDir plain("vantrel-traces-plain"), asked("vantrel-traces-asked");
    const auto without = RunCli({"export", *path_, plain.path(), "--format", format, "--quiet"});
    ASSERT_EQ(without.status, 0) << without.err;
    EXPECT_EQ(without.out.find("SMS_Traces"), std::string::npos);
    const std::string deleted = fx::ReadFileBytes(plain.File("SMS_Del." + ext));
    ASSERT_FALSE(deleted.empty());
    for (const std::string& guid : *expected_)
      EXPECT_EQ(deleted.find(csv ? Utf16(guid) : guid), std::string::npos) << guid;

    const auto with =
        RunCli({"export", *path_, asked.path(), "--format", format, "--traces", "--quiet"});
    ASSERT_EQ(with.status, 0) << with.err;
    EXPECT_NE(with.out.find(asked.File("SMS_Traces." + ext)), std::string::npos) << with.out;
    // The other files are the same as without.
    EXPECT_EQ(fx::ReadFileBytes(asked.File("SMS_Del." + ext)), deleted);
    const std::string traces = fx::ReadFileBytes(asked.File("SMS_Traces." + ext));
    for (const std::string& guid : *expected_) {
      const std::string line =
          csv ? Utf16(guid + "," + std::to_string(truth_->rowidOf.at(guid)) + ",content lost,")
              : "GUID:" + guid + "\r\nROWID:";
      const bool found =
          traces.find(line) != std::string::npos ||
          traces.find(csv ? Utf16(guid + ",,content lost,") : line) != std::string::npos;
      EXPECT_TRUE(found) << guid;
    }
  }
  // --traces adds a file to a whole export; with one category it is refused.
  fx::TempDir out("vantrel-traces-category");
  EXPECT_EQ(
      RunCli({"export", *path_, out.path(), "--category", "短信/删除数据", "--traces"}).status, 1);
}

TEST_F(TracesCli, JsonAndHtmlCarryTracesOnlyWhenAsked) {
  fx::TempDir plain("vantrel-traces-json"), asked("vantrel-traces-json-asked");
  ASSERT_EQ(RunCli({"export", *path_, plain.path(), "--format", "json", "--quiet"}).status, 0);
  const std::string plainJson = plain.File("Vantrel.json");
  EXPECT_EQ(Checker({"validate", kSchema, plainJson}), "valid\n");
  EXPECT_EQ(fx::ReadFileBytes(plainJson).find("messageTraces"), std::string::npos);

  ASSERT_EQ(
      RunCli({"export", *path_, asked.path(), "--format", "json", "--traces", "--quiet"}).status,
      0);
  const std::string json = asked.File("Vantrel.json");
  EXPECT_EQ(Checker({"validate", kSchema, json}), "valid\n");
  const std::string listed = RunCli({"records", *path_, "traces"}).out;
  ASSERT_FALSE(listed.empty());
  EXPECT_EQ(Checker({"records", json, "traces", "1"}), listed);

  fx::TempDir html("vantrel-traces-html"), htmlAsked("vantrel-traces-html-asked");
  ASSERT_EQ(RunCli({"export", *path_, html.path(), "--format", "html", "--quiet"}).status, 0);
  ASSERT_EQ(RunCli({"export", *path_, htmlAsked.path(), "--format", "html", "--traces", "--quiet"})
                .status,
            0);
  const std::string without = fx::ReadFileBytes(html.File("Report.html"));
  const std::string with = fx::ReadFileBytes(htmlAsked.File("Report.html"));
  EXPECT_EQ(Checker({"html", htmlAsked.File("Report.html")}).rfind("{", 0), 0u);  // well-formed
  for (const std::string& guid : *expected_) {
    EXPECT_EQ(without.find(guid), std::string::npos) << guid;
    EXPECT_NE(with.find(guid), std::string::npos) << guid;
  }
}

}  // namespace
}  // namespace vantrel
