// The export commands and the files they write; see Exporter.h.
#include "export/Exporter.h"

#include <algorithm>
#include <array>
#include <optional>
#include <thread>
#include <vector>

#include "export/CategoryNames.h"
#include "export/CsvRows.h"
#include "export/OutputFile.h"
#include "export/TxtBlocks.h"
#include "platform/Parallel.h"
#include "platform/Text.h"
#include "sources/Source.h"

namespace vantrel {

namespace {

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

// Columns a text takes in a UTF-8 or UTF-16 file: East Asian wide characters
// (Han, kana, Hangul, full-width forms, emoji) count two, as they do in GBK.
size_t DisplayWidth(const std::string& utf8) {
  size_t width = 0;
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    uint32_t cp = c;
    size_t len = 1;
    if (c >= 0xF0) {
      len = 4;
      cp = c & 0x07;
    } else if (c >= 0xE0) {
      len = 3;
      cp = c & 0x0F;
    } else if (c >= 0xC0) {
      len = 2;
      cp = c & 0x1F;
    }
    for (size_t k = 1; k < len && i + k < utf8.size(); ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += len;
    const bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                      (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                      (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                      (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x1F300 && cp <= 0x1FAFF) ||
                      (cp >= 0x20000 && cp <= 0x3FFFD);
    width += wide ? 2 : 1;
  }
  return width;
}

// Writes the files of one command and keeps its result: it stops at the first
// file that fails, leaving the files before it in place.
class ExportJob {
 public:
  ExportJob(ExportFormat format, const ExportOptions& options) : format_(format) {
    if (format == ExportFormat::Csv)
      encoding_ = "UTF-16LE";
    else
      encoding_ = options.txtEncoding.empty() ? LocaleCodeset() : options.txtEncoding;
  }

  const ExportResult& result() const { return result_; }
  bool ok() const { return result_.ok; }

  void LiveMessages(const std::string& path, const MessageMap& map) {
    Write(path, [&](OutputFile& file) {
      if (Csv() && !file.WriteText(kMessagesCsvHeader)) return false;
      std::vector<MessageRow> rows;
      for (const auto& [address, records] : map) AddRows(address, records, rows);
      return WriteMessages(file, rows);
    });
  }

  void DeletedMessages(const std::string& path, const MessageList& records) {
    Write(path, [&](OutputFile& file) {
      if (Csv() && !file.WriteText(kMessagesCsvHeader)) return false;
      const std::string address = kDeletedMessagesAddress;
      std::vector<MessageRow> rows;
      AddRows(address, records, rows);
      return WriteMessages(file, rows);
    });
  }

  void DeletedContacts(const std::string& path, const DeletedContactList& contacts) {
    Write(path, [&](OutputFile& file) {
      if (!file.WriteText(Csv() ? kDeletedContactsCsvHeader : kDeletedContactsTxtHeader))
        return false;
      for (const DeletedContact& c : contacts) {
        if (!file.WriteText(Csv() ? DeletedContactCsvRow(c.number, c.owner)
                                  : DeletedContactTxtLine(c.number, c.owner)))
          return false;
      }
      return true;
    });
  }

  void MessageTraces(const std::string& path, const MessageTraceList& traces) {
    Write(path, [&](OutputFile& file) {
      if (Csv() && !file.WriteText(kMessageTracesCsvHeader)) return false;
      for (const MessageTrace& t : traces)
        if (!file.WriteText(Csv() ? MessageTraceCsvRow(t) : MessageTraceTxtBlock(t))) return false;
      return true;
    });
  }

  void LiveContacts(const std::string& path, const ContactMap& contacts) {
    Write(path, [&](OutputFile& file) {
      if (Csv() && !file.WriteText(ContactsCsvHeader())) return false;
      for (const auto& [key, contact] : contacts) {
        if (!file.WriteText(Csv() ? ContactCsvRow(contact) : ContactTxtBlock(contact)))
          return false;
      }
      return true;
    });
  }

  void Calls(const std::string& path, const CallMap& calls) {
    Write(path, [&](OutputFile& file) {
      if (!file.WriteText(Csv() ? std::string(kCallsCsvHeader) : CallListTxtHeading()))
        return false;
      for (const auto& [number, records] : calls) {
        const std::string aligned = Csv() ? std::string() : AlignNumber(number);
        for (const CallRecord& c : records) {
          if (!file.WriteText(Csv() ? CallCsvRow(number, c) : CallTxtLine(aligned, c)))
            return false;
        }
      }
      return true;
    });
  }

 private:
  bool Csv() const { return format_ == ExportFormat::Csv; }

  // One message row of a file: its conversation's address and its record.
  struct MessageRow {
    const std::string* address;
    const MessageRecord* record;
  };

  static void AddRows(const std::string& address, const MessageList& records,
                      std::vector<MessageRow>& rows) {
    for (const MessageRecord& m : records) rows.push_back({&address, &m});
  }

  // Calls out(text) with the text of rows [begin, end) in order, until it
  // says false.
  template <class Out>
  bool MakeRows(const std::vector<MessageRow>& rows, size_t begin, size_t end, Out&& out) const {
    // The texts lie all over the heap: each is fetched a few records ahead,
    // so that waiting for it overlaps making the rows before.
    constexpr size_t kAhead = 6;
    for (size_t k = begin; k < end; ++k) {
      if (k + kAhead < end) {
        const std::string& ahead = rows[k + kAhead].record->text;
        __builtin_prefetch(ahead.data());
        if (ahead.size() > 64) __builtin_prefetch(ahead.data() + 64);
      }
      const MessageRow& row = rows[k];
      if (!out(Csv() ? MessageCsvRow(*row.address, *row.record)
                     : MessageTxtBlock(*row.address, *row.record)))
        return false;
    }
    return true;
  }

  // Rows are made two runs at a time, one on this thread and one on a second,
  // each converted for the file; a third writes them, in order, while the
  // next two are made, so that the copy into the system's cache overlaps the
  // making. Should a run fail to convert, its rows are written here after
  // all, which says why.
  bool WriteMessages(OutputFile& file, const std::vector<MessageRow>& rows) {
    const auto write = [&](size_t begin, size_t end) {
      return MakeRows(rows, begin, end,
                      [&](const std::string& text) { return file.WriteText(text); });
    };
    const auto convert = [&](size_t begin, size_t end, std::string& out) {
      return MakeRows(rows, begin, end,
                      [&](const std::string& text) { return file.Convert(text, out); });
    };
    constexpr size_t kRunRows = 8192;
    if (rows.size() < 2 * kRunRows || std::thread::hardware_concurrency() < 2)
      return write(0, rows.size());
    // Each pair of runs made into one pair of buffers while the other pair is written.
    std::array<std::string, 2> here, beside;
    bool written = true;
    std::optional<Beside> writer;
    for (size_t begin = 0, turn = 0; begin < rows.size(); begin += 2 * kRunRows, turn ^= 1) {
      const size_t middle = std::min(rows.size(), begin + kRunRows);
      const size_t end = std::min(rows.size(), middle + kRunRows);
      std::string& first = here[turn];
      std::string& second = beside[turn];
      first.clear();
      second.clear();
      bool firstConverted = true, secondConverted = true;
      {
        Beside making(middle < end, [&] { secondConverted = convert(middle, end, second); });
        firstConverted = convert(begin, middle, first);
      }
      writer.reset();  // the pair before is written
      if (!written) return false;
      if (!firstConverted || !secondConverted)
        return (firstConverted ? file.WriteBytes(first) : write(begin, middle)) &&
               (secondConverted ? file.WriteBytes(second) : write(middle, end)) &&
               write(end, rows.size());
      writer.emplace(true, [&file, &first, &second, &written] {
        written = file.WriteBytes(first) && file.WriteBytes(second);
      });
    }
    writer.reset();
    return written;
  }

  // In a code page the number's width is its byte count there (GBK: two bytes
  // per Chinese character); in UTF files its display width.
  std::string AlignNumber(const std::string& number) const {
    size_t width = 0;
    std::string converted;
    if (IsUnicodeEncodingName(encoding_) || !ConvertEncoding(number, "UTF-8", encoding_, converted))
      width = DisplayWidth(number);
    else
      width = converted.size();
    return RightAlignedCallNumber(number, width);
  }

  template <class Fill>
  void Write(const std::string& path, Fill&& fill) {
    if (!result_.ok) return;
    OutputFile file(path, encoding_);
    bool ok = file.Open();
    // CSV files are UTF-16LE and say so with the mark FF FE.
    if (ok && Csv()) ok = file.WriteBytes("\xFF\xFE");
    if (ok) ok = fill(file);
    if (ok) ok = file.Close();
    if (!ok) {
      result_.ok = false;
      result_.failedFile = path;
      result_.reason = file.reason();
      return;
    }
    result_.writtenFiles.push_back(path);
  }

  ExportFormat format_;
  std::string encoding_;
  ExportResult result_;
};

}  // namespace

std::string DefaultFileName(RecordKind kind, ExportFormat format) {
  return std::string(SourceOf(kind).fileStem) + (format == ExportFormat::Csv ? ".csv" : ".txt");
}

std::string DeletedFileName(const std::string& chosenPath) {
  const size_t slash = chosenPath.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : chosenPath.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? chosenPath : chosenPath.substr(slash + 1);
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return folder + name + "_Del";
  return folder + name.substr(0, dot) + "_Del." + name.substr(dot + 1);
}

FileFilters SaveFilters(ExportFormat format) {
  const std::string own = format == ExportFormat::Csv ? "*.csv" : "*.txt";
  return {{"", {own}}, {"All Files", {"*.*"}}};
}

ExportResult ExportCurrentCategory(const Collections& data, Category category, ExportFormat format,
                                   const std::string& chosenPath, const ExportOptions& options) {
  ExportJob job(format, options);
  // Deleted messages and contacts go beside the chosen file, under "_Del";
  // the chosen file itself is then not created. Calls, live or deleted,
  // always go to the chosen file.
  switch (category) {
    case Category::LiveMessages:
      job.LiveMessages(chosenPath, data.liveMessages);
      break;
    case Category::DeletedMessages:
      if (!data.deletedMessages.empty())
        job.DeletedMessages(DeletedFileName(chosenPath), data.deletedMessages);
      break;
    case Category::LiveContacts:
      job.LiveContacts(chosenPath, data.contacts);
      break;
    case Category::DeletedContacts:
      if (data.deletedContacts)
        job.DeletedContacts(DeletedFileName(chosenPath), *data.deletedContacts);
      break;
    case Category::LiveCalls:
      job.Calls(chosenPath, data.liveCalls);
      break;
    case Category::DeletedCalls:
      job.Calls(chosenPath, data.deletedCalls);
      break;
    case Category::MessageTraces:
      job.MessageTraces(chosenPath, data.messageTraces);
      break;
  }
  return job.result();
}

ExportResult ExportAllCategories(const Collections& data, ExportFormat format,
                                 const std::string& folder, const ExportOptions& options) {
  ExportJob job(format, options);
  const std::string ext = format == ExportFormat::Csv ? "CSV" : "txt";
  auto path = [&](const char* prefix) { return JoinPath(folder, prefix + ext); };
  if (!data.deletedMessages.empty()) job.DeletedMessages(path("SMS_Del."), data.deletedMessages);
  if (!data.liveMessages.empty()) job.LiveMessages(path("SMS."), data.liveMessages);
  if (data.deletedContacts) job.DeletedContacts(path("Contacts_Del."), *data.deletedContacts);
  job.LiveContacts(path("Contacts."), data.contacts);
  if (!data.deletedCalls.empty()) job.Calls(path("Call_history_Del."), data.deletedCalls);
  if (!data.liveCalls.empty()) job.Calls(path("Call_history."), data.liveCalls);
  if (options.traces) job.MessageTraces(path("SMS_Traces."), data.messageTraces);
  return job.result();
}

std::string ExportErrorText(const ExportResult& result) {
  return "无法写入文件：" + result.failedFile + "\n" + result.reason;
}

namespace {

ExportResult Finish(ExportDialogs& dialogs, ExportResult result) {
  if (result.ok)
    dialogs.ShowDone();
  else
    dialogs.ShowError(ExportErrorText(result));
  return result;
}

}  // namespace

ExportResult RunSaveCurrent(ExportDialogs& dialogs, const Collections& data,
                            std::optional<Category> selected, ExportFormat format,
                            const ExportOptions& options) {
  if (!selected) return {};
  const std::optional<std::string> chosen =
      dialogs.AskSaveFile(DefaultFileName(KindOf(*selected), format), SaveFilters(format));
  if (!chosen || chosen->empty()) return {};
  return Finish(dialogs, ExportCurrentCategory(data, *selected, format, *chosen, options));
}

ExportResult RunSaveAll(ExportDialogs& dialogs, const Collections& data, ExportFormat format,
                        const ExportOptions& options) {
  const std::optional<std::string> folder = dialogs.AskFolder(kFolderChooserTitle);
  if (!folder || folder->empty()) return {};
  return Finish(dialogs, ExportAllCategories(data, format, *folder, options));
}

}  // namespace vantrel
