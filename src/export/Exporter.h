// Saving the loaded records as CSV (UTF-16LE with a byte-order mark) or TXT (a
// chosen code page) files: one category chosen in the tree, or every category
// into a folder. The library part writes files and reports; the commands ask
// their questions through ExportDialogs, so the desktop app, the CLI and tests
// each answer them their own way.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "recovery/Records.h"

namespace vantrel {

enum class ExportFormat { Csv, Txt };

// What a tree node holds, known from its parent's name ("短信", "通讯录", "通话记录").
enum class ExportKind { None, Messages, Contacts, Calls };

struct ExportOptions {
  // iconv name of the code page TXT files are written in ("UTF-8", "GBK", ...);
  // empty means the locale's codeset (LocaleCodeset()). CSV files are always UTF-16LE.
  std::string txtEncoding;
};

struct ExportResult {
  bool ok = true;
  std::string failedFile;                 // path of the file that could not be created or written
  std::string reason;                     // why (strerror text, or an unknown encoding)
  std::vector<std::string> writtenFiles;  // complete files, in the order written
};

// Save-dialog filters and the folder chooser's title.
inline constexpr char kCsvSaveFilter[] = "(*.csv)|*.csv|All Files(*.*)|*.*||";
inline constexpr char kTxtSaveFilter[] = "(*.txt)|*.txt|All Files(*.*)|*.*||";
inline constexpr char kCsvExtension[] = "csv";
inline constexpr char kTxtExtension[] = "txt";
inline constexpr char kFolderChooserTitle[] = "选择路径";
inline constexpr char kExportDoneText[] = "完成！";

// The kind of a node whose parent is named parentName; None for any other name.
ExportKind KindOfParent(const std::string& parentName);

// The name the save dialog proposes: "SMS.csv", "Contacts.csv", "Call_history.csv",
// "SMS.txt", "Contacts.txt", "Call_history.txt"; empty for ExportKind::None.
std::string DefaultFileName(ExportKind kind, ExportFormat format);

// The file deleted records of the current category go to, beside the chosen one:
// folder, file title, "_Del." and the chosen extension ("/x/SMS.csv" ->
// "/x/SMS_Del.csv"). A name without extension gets "_Del" alone ("/x/SMS" -> "/x/SMS_Del").
std::string DeletedFileName(const std::string& chosenPath);

// The filter for the save dialog of a format.
std::string SaveFilter(ExportFormat format);

// Writes the category of the node nodeName under parentName, as the save
// command does after the user chose chosenPath: deleted messages and deleted
// contacts go to DeletedFileName(chosenPath), live ones and calls (live or
// deleted) to chosenPath. A node with nothing to write writes nothing (ok).
ExportResult ExportCurrentCategory(const Collections& data, const std::string& parentName,
                                   const std::string& nodeName, ExportFormat format,
                                   const std::string& chosenPath, const ExportOptions& options);

// Writes every non-empty category into folder under fixed names: SMS_Del, SMS,
// Contacts_Del, Contacts (always), Call_history_Del, Call_history, with the
// extension "CSV" (upper case) or "txt".
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
                                                 const std::string& filter) = 0;
  // A folder chooser titled title ("选择路径"); nullopt when cancelled.
  virtual std::optional<std::string> AskFolder(const std::string& title) = 0;
  // The completion notice "完成！".
  virtual void ShowDone() = 0;
  // A failure: the text names the file and the reason.
  virtual void ShowError(const std::string& text) = 0;
};

// The "save current" command for the selected node (nodeName) under its parent
// (parentName): nothing at all when there is no selected node or its parent names
// no kind; otherwise the save dialog, then the files. Cancel does nothing; a
// failure shows the error and no completion notice; success shows the notice.
// Returns what was written (ok with no files when nothing happened).
ExportResult RunSaveCurrent(ExportDialogs& dialogs, const Collections& data,
                            const std::string& parentName, const std::string& nodeName,
                            ExportFormat format, const ExportOptions& options);

// The "save all" command: the folder chooser, then every category's file.
// Cancel does nothing; a failure shows the error and no completion notice.
ExportResult RunSaveAll(ExportDialogs& dialogs, const Collections& data, ExportFormat format,
                        const ExportOptions& options);

}  // namespace vantrel
