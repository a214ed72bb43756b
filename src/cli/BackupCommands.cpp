// backups, summary and export: the whole job of the desktop application, for
// terminals and scripts.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <ostream>

#include "backup/BackupLoader.h"
#include "backup/Discovery.h"
#include "cli/Cli.h"
#include "cli/Commands.h"
#include "cli/Password.h"
#include "export/CategoryNames.h"
#include "export/Exporter.h"
#include "platform/ReadOnlyFile.h"
#include "platform/Text.h"

namespace vantrel {

// Run on a folder that holds backups instead of being one: the backups it
// holds, one a line as `backups` prints them, and how to pick one.
int ListHeldBackups(const std::string& path, const std::vector<std::string>& held,
                    std::ostream& err) {
  err << "vantrel-cli: " << path << ": " << kFolderOfBackupsMessage << "\n";
  for (const std::string& folder : held) {
    BackupRow row;
    if (!ExamineBackupFolder(folder, row)) continue;
    err << EscapeField(row.folder) << '\t' << EscapeField(row.deviceName) << '\t'
        << EscapeField(row.lastBackupDate) << '\t' << EscapeField(row.productVersion) << '\n';
  }
  err << "vantrel-cli: name one of these folders in place of " << path << "\n";
  return kExitNotFound;
}

namespace {

// Collects the category tree and draws the load's progress on stderr.
class CliObserver : public LoadObserver {
 public:
  CliObserver(std::ostream& err, bool progress) : err_(err), progress_(progress) {}

  struct Node {
    Category category;
    int count;
  };
  const std::vector<Node>& nodes() const { return nodes_; }
  const std::vector<std::string>& messages() const { return messages_; }

  void BeginProgress() override {
    step_ = 0;
    Draw();
  }
  void StepProgress() override {
    ++step_;
    Draw();
  }
  void EndProgress() override {
    if (progress_) err_ << "\r" << std::string(48, ' ') << "\r" << std::flush;
  }
  void ResetViews() override { nodes_.clear(); }
  CategoryHandle AddCategory(RecordKind) override { return 0; }
  void AddCount(CategoryHandle, Category category, int count) override {
    nodes_.push_back({category, count});
  }
  void ExpandCategory(CategoryHandle) override {}
  void ShowMessage(const std::string& text) override { messages_.push_back(text); }

 private:
  void Draw() {
    if (!progress_) return;
    constexpr int kSteps = 6, kWidth = 30;
    int filled = std::min(step_, kSteps) * kWidth / kSteps;
    err_ << "\rloading [" << std::string(filled, '#') << std::string(kWidth - filled, '.') << "] "
         << std::min(step_, kSteps) << "/" << kSteps << std::flush;
  }

  std::ostream& err_;
  bool progress_;
  int step_ = 0;
  std::vector<Node> nodes_;
  std::vector<std::string> messages_;
};

// A node as summary and --category name it: "短信/删除数据".
std::string NodeName(Category category) {
  return std::string(KindName(KindOf(category))) + "/" + CategoryName(category);
}

// Loads path for summary and export. Returns 0 and fills loaded/observer, or an
// exit status after saying why on err.
int Load(const std::string& path, const CommandLine& cl, LoadResult& loaded, CliObserver& observer,
         std::ostream& err) {
  std::optional<BackupKeys> keys;
  if (int status = UnlockForCli(path, cl, err, keys)) return status;
  loaded = LoadBackup(path, observer, keys ? &*keys : nullptr);
  // Said whatever else happens, so a record missing from the output can be traced.
  for (const std::string& line : DamageLines(loaded.databaseDamage))
    err << "vantrel-cli: " << line << "\n";
  switch (loaded.status) {
    case LoadStatus::Loaded:
      // An encrypted backup's file that could not be deciphered is missing
      // from the output: said, though the rest loaded.
      for (const std::string& problem : loaded.decryptionProblems)
        err << "vantrel-cli: " << problem << "\n";
      return kExitOk;
    case LoadStatus::NotFound:
      err << "vantrel-cli: " << path << ": " << kFileNotFoundMessage << "\n";
      return kExitNotFound;
    case LoadStatus::FolderOfBackups:
      return ListHeldBackups(path, loaded.heldBackups, err);
    case LoadStatus::NothingSupported:
    case LoadStatus::Encrypted:
      break;
  }
  for (const std::string& m : observer.messages()) err << "vantrel-cli: " << m << "\n";
  if (observer.messages().empty()) err << "vantrel-cli: " << NothingLoadedMessage(path) << "\n";
  return kExitNoData;
}

}  // namespace

int RunBackups(const CommandLine& cl, std::ostream& out, std::ostream& err) {
  std::string root = cl.positional.empty() ? FindDefaultBackupFolder() : cl.positional[0];
  if (root.empty()) {
    err << "vantrel-cli: no backup folder found in the usual places; name one: vantrel-cli backups "
           "ROOT\n";
    return kExitNotFound;
  }
  if (!IsDirectory(root)) {
    err << "vantrel-cli: " << root << ": " << kFileNotFoundMessage << "\n";
    return kExitNotFound;
  }
  // An encrypted backup carries a fifth field, "encrypted": it needs the
  // backup password (--password-file, or the environment, or the terminal).
  for (const BackupRow& row : ListBackups(root)) {
    out << EscapeField(row.folder) << '\t' << EscapeField(row.deviceName) << '\t'
        << EscapeField(row.lastBackupDate) << '\t' << EscapeField(row.productVersion);
    if (IsEncryptedBackup(row.folder)) out << "\tencrypted";
    out << '\n';
  }
  return kExitOk;
}

int RunSummary(const CommandLine& cl, std::ostream& out, std::ostream& err) {
  LoadResult loaded;
  CliObserver observer(err, cl.progress);
  if (int status = Load(cl.positional[0], cl, loaded, observer, err)) return status;
  for (const auto& node : observer.nodes())
    out << NodeName(node.category) << '\t' << node.count << '\n';
  return kExitOk;
}

int RunExport(const CommandLine& cl, std::ostream& out, std::ostream& err) {
  const std::string& outdir = cl.positional[1];
  const std::string formatName = cl.Get("--format", "csv");
  if (formatName != "csv" && formatName != "txt") {
    err << "vantrel-cli: --format must be csv or txt, not '" << formatName << "'\n";
    return kExitUsage;
  }
  const ExportFormat format = formatName == "csv" ? ExportFormat::Csv : ExportFormat::Txt;
  ExportOptions options;
  options.txtEncoding = cl.Get("--encoding", LocaleCodeset());
  if (!IsKnownEncoding(options.txtEncoding)) {
    err << "vantrel-cli: unknown encoding '" << options.txtEncoding << "' (try UTF-8 or GBK)\n";
    return kExitUsage;
  }
  std::string parent, node;
  if (cl.Has("--category")) {
    const std::string category = cl.Get("--category");
    size_t slash = category.find('/');
    if (slash == std::string::npos) {
      err << "vantrel-cli: --category takes CATEGORY/NODE, e.g. 短信/删除数据\n";
      return kExitUsage;
    }
    parent = category.substr(0, slash);
    node = category.substr(slash + 1);
  }

  LoadResult loaded;
  CliObserver observer(err, cl.progress);
  if (int status = Load(cl.positional[0], cl, loaded, observer, err)) return status;

  std::error_code ec;
  std::filesystem::create_directories(outdir, ec);
  if (!IsDirectory(outdir)) {
    err << "vantrel-cli: " << outdir << ": cannot create the folder ("
        << (ec ? ec.message() : std::string("not a folder")) << ")\n";
    return kExitWriteFailed;
  }

  ExportResult result;
  if (cl.Has("--category")) {
    // Today's node names ("短信/删除数据") name the category.
    const std::optional<Category> category = CategoryNamed(parent, node);
    bool known = false;
    for (const auto& n : observer.nodes()) known |= n.category == category;
    if (!known) {
      err << "vantrel-cli: no category " << parent << "/" << node << " in this backup; it has:";
      for (const auto& n : observer.nodes()) err << " " << NodeName(n.category);
      err << "\n";
      return kExitNotFound;
    }
    const std::string chosen = outdir + "/" + DefaultFileName(KindOf(*category), format);
    result = ExportCurrentCategory(loaded.collections, *category, format, chosen, options);
  } else {
    result = ExportAllCategories(loaded.collections, format, outdir, options);
  }
  for (const std::string& file : result.writtenFiles) out << file << '\n';
  if (!result.ok) {
    err << "vantrel-cli: " << ExportErrorText(result) << "\n";
    return kExitWriteFailed;
  }
  return kExitOk;
}

}  // namespace vantrel
