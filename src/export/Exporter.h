// Saving the loaded records as CSV (UTF-16LE with a byte-order mark) or TXT (a
// chosen code page) files: one category chosen in the tree, or every category
// into a folder. The library part writes files and reports; the commands ask
// their questions through ExportDialogs, so the desktop app, the CLI and tests
// each answer them their own way.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sources/Collections.h"

namespace vantrel {

enum class ExportFormat { Csv, Txt };

struct ExportOptions {
  // iconv name of the code page TXT files are written in ("UTF-8", "GBK", ...);
  // empty means the locale's codeset (LocaleCodeset()). CSV files are always UTF-16LE.
  std::string txtEncoding;
  // Also write the deleted messages only the GUID index names (their own
  // file: SMS_Traces); off by default, as they have no content.
  bool traces = false;
};

struct ExportResult {
  bool ok = true;
  std::string failedFile;                 // path of the file that could not be created or written
  std::string reason;                     // why (strerror text, or an unknown encoding)
  std::vector<std::string> writtenFiles;  // complete files, in the order written
};

// One choice of a save dialog's file-type list: its label and the name
// patterns it shows. The dialog shows the label followed by the patterns in
// parentheses ("All Files(*.*)"); an empty label shows the patterns alone.
struct FileFilter {
  std::string label;
  std::vector<std::string> patterns;  // "*.csv"

  bool operator==(const FileFilter&) const = default;
};
using FileFilters = std::vector<FileFilter>;

inline constexpr char kCsvExtension[] = "csv";
inline constexpr char kTxtExtension[] = "txt";
// The folder chooser's title.
inline constexpr char kFolderChooserTitle[] = "选择路径";
inline constexpr char kExportDoneText[] = "完成！";

// The name the save dialog proposes: "SMS.csv", "Contacts.csv", "Call_history.csv",
// "SMS.txt", "Contacts.txt", "Call_history.txt".
std::string DefaultFileName(RecordKind kind, ExportFormat format);

// The file deleted records of the current category go to, beside the chosen one:
// folder, file title, "_Del." and the chosen extension ("/x/SMS.csv" ->
// "/x/SMS_Del.csv"). A name without extension gets "_Del" alone ("/x/SMS" -> "/x/SMS_Del").
std::string DeletedFileName(const std::string& chosenPath);

// The file types of the save dialog of a format: the format's own files
// ("*.csv" or "*.txt", no label), then "All Files" ("*.*").
FileFilters SaveFilters(ExportFormat format);

// Writes one category, as the save command does after the user chose
// chosenPath: deleted messages and deleted contacts go to
// DeletedFileName(chosenPath), live ones, calls (live or deleted) and the
// index-only traces to chosenPath. Deleted messages or contacts the load did not find write
// nothing (ok).
ExportResult ExportCurrentCategory(const Collections& data, Category category, ExportFormat format,
                                   const std::string& chosenPath, const ExportOptions& options);

// Writes every non-empty category into folder under fixed names: SMS_Del, SMS,
// Contacts_Del, Contacts (always), Call_history_Del, Call_history, with the
// extension "CSV" (upper case) or "txt"; then, with options.traces, SMS_Traces
// (always, empty or not).
ExportResult ExportAllCategories(const Collections& data, ExportFormat format,
                                 const std::string& folder, const ExportOptions& options);

// The message shown when an export failed: the file and the reason.
std::string ExportErrorText(const ExportResult& result);

// The questions and notices of the two save commands.
class ExportDialogs {
 public:
  virtual ~ExportDialogs() = default;
  // A save dialog proposing defaultName; nullopt when cancelled.
  virtual std::optional<std::string> AskSaveFile(const std::string& defaultName,
                                                 const FileFilters& filters) = 0;
  // A folder chooser titled title ("选择路径"); nullopt when cancelled.
  virtual std::optional<std::string> AskFolder(const std::string& title) = 0;
  // The completion notice "完成！".
  virtual void ShowDone() = 0;
  // A failure: the text names the file and the reason.
  virtual void ShowError(const std::string& text) = 0;
};

// The "save current" command for the selected category: nothing at all when
// no category is selected (no node, or a top-level one); otherwise the save
// dialog, then the files. Cancel does nothing; a failure shows the error and
// no completion notice; success shows the notice. Returns what was written
// (ok with no files when nothing happened).
ExportResult RunSaveCurrent(ExportDialogs& dialogs, const Collections& data,
                            std::optional<Category> selected, ExportFormat format,
                            const ExportOptions& options);

// The "save all" command: the folder chooser, then every category's file.
// Cancel does nothing; a failure shows the error and no completion notice.
ExportResult RunSaveAll(ExportDialogs& dialogs, const Collections& data, ExportFormat format,
                        const ExportOptions& options);

}  // namespace vantrel
