// backups, summary and export: the whole job of the desktop application, for
// terminals and scripts.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <ostream>

#include "backup/BackupPlists.h"
#include "backup/Discovery.h"
#include "backup/EncryptedBackup.h"
#include "cli/Cli.h"
#include "cli/Commands.h"
#include "cli/Password.h"
#include "export/AttachmentCopy.h"
#include "export/CategoryNames.h"
#include "export/Exporter.h"
#include "export/HtmlReport.h"
#include "export/JsonExport.h"
#include "export/ReportFacts.h"
#include "export/StatusTexts.h"
#include "sources/messages/Attachments.h"
#include "load/BackupLoader.h"
#include "platform/ReadOnlyFile.h"
#include "platform/Text.h"

namespace vantrel {

// Run on a folder that holds backups instead of being one: the backups it
// holds, one a line as `backups` prints them, and how to pick one.
int ListHeldBackups(const ExaminedPath& folder, std::ostream& err) {
  const std::string& path = folder.path;
  err << "vantrel-cli: " << path << ": " << kFolderOfBackupsMessage << "\n";
  for (const BackupRow& row : folder.heldBackups) {
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
  const std::vector<LoadMessage>& messages() const { return messages_; }

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
  void ShowMessage(const LoadMessage& message) override { messages_.push_back(message); }

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
  std::vector<LoadMessage> messages_;
};

// A node as summary and --category name it: "短信/删除数据".
std::string NodeName(Category category) {
  return std::string(KindName(KindOf(category))) + "/" + CategoryName(category);
}

// Loads the examined path for summary and export. Returns 0 and fills
// loaded/observer, or an exit status after saying why on err.
int Load(const ExaminedPath& examined, const CommandLine& cl, LoadResult& loaded,
         CliObserver& observer, std::ostream& err, std::optional<BackupKeys>* keptKeys = nullptr) {
  const std::string& path = examined.path;
  std::optional<BackupKeys> ownKeys;
  std::optional<BackupKeys>& keys = keptKeys ? *keptKeys : ownKeys;
  if (int status = UnlockForCli(examined, cl, err, keys)) return status;
  loaded = LoadBackup(examined, observer, keys ? &*keys : nullptr);
  // Said whatever else happens, so a record missing from the output can be traced.
  for (const std::string& line : DamageLines(loaded.databaseDamage))
    err << "vantrel-cli: " << line << "\n";
  switch (loaded.status) {
    case LoadStatus::Loaded:
      // An encrypted backup's file that could not be deciphered is missing
      // from the output: said, though the rest loaded.
      for (const DecryptionProblem& problem : loaded.decryptionProblems)
        err << "vantrel-cli: " << DecryptionProblemText(problem) << "\n";
      return kExitOk;
    case LoadStatus::NotFound:
      err << "vantrel-cli: " << path << ": " << kFileNotFoundMessage << "\n";
      return kExitNotFound;
    case LoadStatus::FolderOfBackups:
      return ListHeldBackups(examined, err);
    case LoadStatus::NothingSupported:
    case LoadStatus::Encrypted:
      break;
  }
  for (const LoadMessage& m : observer.messages())
    err << "vantrel-cli: " << LoadMessageText(m) << "\n";
  if (observer.messages().empty())
    err << "vantrel-cli: " << LoadMessageText(NothingLoaded(examined)) << "\n";
  return kExitNoData;
}

// What the JSON and HTML files say of the backup (its Info.plist as the
// examination read it) and its database files, each file hashed as it lies on
// disk now.
ReportFacts FactsOfLoad(const ExaminedPath& examined, const LoadResult& loaded) {
  ReportFacts facts;
  facts.folder = examined.path;
  facts.generatedAt = static_cast<int64_t>(std::time(nullptr));
  if (examined.IsBackup()) {
    const InfoPlistFacts& info = examined.info;
    facts.device = info.deviceName;
    facts.iosVersion = info.productVersion;
    facts.backupDate = info.lastBackupDate;
  }
  for (const SourceDatabase& s : loaded.sources) {
    ReportSource source;
    source.kind = KindWord(s.kind);
    source.path = s.path;
    source.domain = s.domain;
    source.relativePath = s.relativePath;
    source.size = s.size;
    source.sha256 = Sha256OfFile(s.path);
    source.walPath = s.walPath;
    source.walSize = s.walSize;
    if (!s.walPath.empty()) source.walSha256 = Sha256OfFile(s.walPath);
    facts.sources.push_back(std::move(source));
  }
  return facts;
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

namespace {

size_t ReactionsOf(const MessageList& records) {
  size_t n = 0;
  for (const MessageRecord& m : records)
    if (m.extras) n += m.extras->reactions.size();
  return n;
}

size_t ReactionCount(const Collections& data) {
  size_t n = ReactionsOf(data.deletedMessages);
  for (const auto& [address, records] : data.liveMessages) n += ReactionsOf(records);
  return n;
}

}  // namespace

int RunSummary(const CommandLine& cl, std::ostream& out, std::ostream& err) {
  LoadResult loaded;
  CliObserver observer(err, cl.progress);
  if (int status = Load(ExaminePath(cl.positional[0]), cl, loaded, observer, err)) return status;
  for (const auto& node : observer.nodes())
    out << NodeName(node.category) << '\t' << node.count << '\n';
  // Reactions are not messages of their own; counted apart, after the nodes,
  // and only where there are any, so older backups summarise as before.
  if (const size_t reactions = ReactionCount(loaded.collections); reactions > 0)
    out << "短信/回应\t" << reactions << '\n';
  // Deleted messages only the GUID index names: last, a line of their own
  // (export --traces writes them), whenever messages were read, 0 included.
  bool messages = false;
  for (const auto& node : observer.nodes())
    messages |= KindOf(node.category) == RecordKind::Messages;
  if (messages)
    out << NodeName(Category::MessageTraces) << '\t' << loaded.collections.messageTraces.size()
        << '\n';
  return kExitOk;
}

namespace {

// What an export command line asks for.
struct ExportRequest {
  std::string formatName;
  bool wholeDocument = false;  // json or html: one file of every record
  ExportFormat format = ExportFormat::Csv;
  ExportOptions options;
  bool category = false;     // --category given
  std::string parent, node;  // its two halves
};

// The export's options from the command line; kExitUsage, said on err, when
// they do not go together.
int ReadExportRequest(const CommandLine& cl, std::ostream& err, ExportRequest& request) {
  const std::string& formatName = request.formatName = cl.Get("--format", "csv");
  if (formatName != "csv" && formatName != "txt" && formatName != "json" && formatName != "html") {
    err << "vantrel-cli: --format must be csv, txt, json or html, not '" << formatName << "'\n";
    return kExitUsage;
  }
  request.wholeDocument = formatName == "json" || formatName == "html";
  if (request.wholeDocument && cl.Has("--category")) {
    err << "vantrel-cli: --format " << formatName
        << " writes every category; leave out --category\n";
    return kExitUsage;
  }
  if (cl.Has("--traces") && cl.Has("--category")) {
    err << "vantrel-cli: --traces adds a file to a whole export; leave out --category\n";
    return kExitUsage;
  }
  request.format = formatName == "csv" ? ExportFormat::Csv : ExportFormat::Txt;
  ExportOptions& options = request.options;
  options.txtEncoding = cl.Get("--encoding", LocaleCodeset());
  options.traces = cl.Has("--traces");
  if (!IsKnownEncoding(options.txtEncoding)) {
    err << "vantrel-cli: unknown encoding '" << options.txtEncoding << "' (try UTF-8 or GBK)\n";
    return kExitUsage;
  }
  request.category = cl.Has("--category");
  if (request.category) {
    const std::string category = cl.Get("--category");
    size_t slash = category.find('/');
    if (slash == std::string::npos) {
      err << "vantrel-cli: --category takes CATEGORY/NODE, e.g. 短信/删除数据\n";
      return kExitUsage;
    }
    request.parent = category.substr(0, slash);
    request.node = category.substr(slash + 1);
  }
  return kExitOk;
}

// The output folder, made when missing; kExitWriteFailed, said on err, when
// it cannot be.
int MakeOutputFolder(const std::string& outdir, std::ostream& err) {
  std::error_code ec;
  std::filesystem::create_directories(outdir, ec);
  if (!IsDirectory(outdir)) {
    err << "vantrel-cli: " << outdir << ": cannot create the folder ("
        << (ec ? ec.message() : std::string("not a folder")) << ")\n";
    return kExitWriteFailed;
  }
  return kExitOk;
}

// Writes what the request asks for of the loaded backup at path into outdir:
// the whole document, one category, or every category. kExitNotFound, said
// on err, for a category the backup does not have.
int WriteExportFiles(const ExportRequest& request, const ExaminedPath& examined,
                     const LoadResult& loaded, const CliObserver& observer,
                     const std::string& outdir, std::ostream& err, ExportResult& result) {
  if (request.wholeDocument) {
    const ReportFacts facts = FactsOfLoad(examined, loaded);
    const bool traces = request.options.traces;
    result = request.formatName == "json"
                 ? ExportJson(loaded.collections, facts, outdir, traces)
                 : ExportHtmlReport(loaded.collections, facts, outdir, traces);
  } else if (request.category) {
    // Today's node names ("短信/删除数据") name the category.
    const std::optional<Category> category = CategoryNamed(request.parent, request.node);
    bool known = false;
    for (const auto& n : observer.nodes()) known |= n.category == category;
    if (!known) {
      err << "vantrel-cli: no category " << request.parent << "/" << request.node
          << " in this backup; it has:";
      for (const auto& n : observer.nodes()) err << " " << NodeName(n.category);
      err << "\n";
      return kExitNotFound;
    }
    const std::string chosen = outdir + "/" + DefaultFileName(KindOf(*category), request.format);
    result = ExportCurrentCategory(loaded.collections, *category, request.format, chosen,
                                   request.options);
  } else {
    result = ExportAllCategories(loaded.collections, request.format, outdir, request.options);
  }
  return kExitOk;
}

// Copies the message attachments into outdir/attachments, naming each file
// written on out. A file the backup does not hold is said, never passed over
// in silence; kExitWriteFailed when one could not be copied.
int CopyExportAttachments(const LoadResult& loaded, const std::optional<BackupKeys>& keys,
                          const std::string& outdir, std::ostream& out, std::ostream& err) {
  // An encrypted backup's attachments are deciphered on their way out.
  AttachmentCopier decipher;
  if (keys)
    decipher = [&keys](const MessageAttachment& a, const std::string& target) {
      return CopyAttachmentOut(a, target, &*keys);
    };
  const AttachmentCopyResult copied =
      CopyAttachments(loaded.collections, outdir + "/attachments", decipher);
  for (const std::string& file : copied.writtenFiles) out << file << '\n';
  for (const std::string& missing : copied.missing)
    err << "vantrel-cli: warning: attachment not in the backup: " << missing << "\n";
  if (!copied.missing.empty())
    err << "vantrel-cli: " << copied.missing.size() << " attachment(s) not in the backup, "
        << copied.copied << " copied\n";
  for (const std::string& failure : copied.failed)
    err << "vantrel-cli: cannot copy attachment " << failure << "\n";
  if (!copied.failed.empty()) return kExitWriteFailed;
  return kExitOk;
}

}  // namespace

int RunExport(const CommandLine& cl, std::ostream& out, std::ostream& err) {
  const std::string& outdir = cl.positional[1];
  ExportRequest request;
  if (int status = ReadExportRequest(cl, err, request)) return status;

  LoadResult loaded;
  CliObserver observer(err, cl.progress);
  std::optional<BackupKeys> keys;  // an encrypted backup's, to decipher its attachments
  const ExaminedPath examined = ExaminePath(cl.positional[0]);
  if (int status = Load(examined, cl, loaded, observer, err, &keys)) return status;
  if (int status = MakeOutputFolder(outdir, err)) return status;

  ExportResult result;
  if (int status =
          WriteExportFiles(request, examined, loaded, observer, outdir, err, result))
    return status;
  for (const std::string& file : result.writtenFiles) out << file << '\n';
  if (!result.ok) {
    err << "vantrel-cli: " << ExportErrorText(result) << "\n";
    return kExitWriteFailed;
  }
  if (cl.Has("--attachments")) return CopyExportAttachments(loaded, keys, outdir, out, err);
  return kExitOk;
}

}  // namespace vantrel
