// Fuzz target: records made from the input bytes (any text, any numbers) are
// written by every exporter: the CSV and TXT row builders, and whole exports of
// all categories and of one category in several encodings, into a scratch folder.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>

#include "FuzzSupport.h"
#include "export/CategoryNames.h"
#include "export/CsvRows.h"
#include "export/Exporter.h"
#include "export/TimeText.h"
#include "export/TxtBlocks.h"

namespace {

using namespace vantrel;

std::string Text(FuzzedDataProvider& in) {
  return in.ConsumeRandomLengthString(64);
}

MessageRecord Message(FuzzedDataProvider& in) {
  MessageRecord m;
  m.text = Text(in);
  m.service = Text(in);
  m.chat = std::make_shared<const ChatFacts>(ChatFacts{Text(in), "", {}});
  m.date = in.ConsumeIntegral<int32_t>();
  m.readDate = in.ConsumeIntegral<int32_t>();
  m.sent = in.ConsumeIntegral<uint8_t>();
  return m;
}

ContactRecord Contact(FuzzedDataProvider& in) {
  ContactRecord c;
  c.name = Text(in);
  c.phonetic = Text(in);
  c.organization = Text(in);
  const int n = in.ConsumeIntegralInRange<int>(0, 14);
  for (int i = 0; i < n; ++i) {
    c.propertyCodes.push_back(in.ConsumeIntegral<int32_t>());
    c.labels.push_back(Text(in));
    c.values.push_back(Text(in));
  }
  // Lists of different lengths, as a damaged carve could leave them.
  if (in.ConsumeBool()) c.labels.push_back(Text(in));
  if (in.ConsumeBool()) c.values.push_back(Text(in));
  return c;
}

CallRecord Call(FuzzedDataProvider& in) {
  CallRecord c;
  c.date = in.ConsumeIntegral<int32_t>();
  c.duration = in.ConsumeIntegral<int32_t>();
  c.flags = in.ConsumeIntegral<int32_t>();
  return c;
}

Collections Records(FuzzedDataProvider& in) {
  Collections data;
  for (int guard = 0; guard < 64 && in.remaining_bytes() > 0; ++guard) {
    switch (in.ConsumeIntegralInRange<int>(0, 4)) {
      case 0:
        data.liveMessages[Text(in)].push_back(Message(in));
        break;
      case 1:
        data.deletedMessages.push_back(Message(in));
        break;
      case 2:
        if (in.ConsumeBool()) {
          data.contacts[in.ConsumeIntegralInRange<uint32_t>(0, 8)] = Contact(in);
        } else {
          if (!data.deletedContacts) data.deletedContacts.emplace();
          std::string number = Text(in);
          data.deletedContacts->push_back({std::move(number), Text(in)});
        }
        break;
      case 3:
        data.liveCalls[Text(in)].push_back(Call(in));
        break;
      default:
        data.deletedCalls[Text(in)].push_back(Call(in));
        break;
    }
  }
  return data;
}

// Every row and block builder on every record.
void BuildRows(const Collections& data) {
  auto messages = [](const std::string& address, const MessageList& records) {
    for (const MessageRecord& m : records) {
      (void)MessageCsvRow(address, m);
      (void)MessageTxtBlock(address, m);
      (void)MessageDateText(m.date);
      (void)MessageDateText(m.readDate);
    }
  };
  for (const auto& [address, records] : data.liveMessages) messages(address, records);
  messages(kDeletedMessagesAddress, data.deletedMessages);
  for (const auto& [key, contact] : data.contacts) {
    (void)ContactCsvRow(contact);
    (void)ContactTxtBlock(contact);
  }
  if (data.deletedContacts) {
    for (const DeletedContact& contact : *data.deletedContacts) {
      (void)DeletedContactCsvRow(contact.number, contact.owner);
      (void)DeletedContactTxtLine(contact.number, contact.owner);
    }
  }
  for (const CallMap* map : {&data.liveCalls, &data.deletedCalls}) {
    for (const auto& [number, records] : *map) {
      const std::string aligned = RightAlignedCallNumber(number, number.size());
      for (const CallRecord& c : records) {
        (void)CallCsvRow(number, c);
        (void)CallTxtLine(aligned, c);
        (void)CallDateText(c.date);
        (void)DurationText(c.duration);
        (void)ListDurationText(c.duration);
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  static const char* const kEncodings[] = {"UTF-8",  "GBK",        "UTF-16",
                                           "UTF-32", "ISO-8859-1", "UTF-16LE"};
  const ExportFormat format = in.ConsumeBool() ? ExportFormat::Csv : ExportFormat::Txt;
  ExportOptions options;
  options.txtEncoding = kEncodings[in.ConsumeIntegralInRange<size_t>(0, 5)];
  const Category category =
      kAllCategories[in.ConsumeIntegralInRange<size_t>(0, std::size(kAllCategories) - 1)];
  const Collections records = Records(in);

  BuildRows(records);

  static const std::string folder = [] {
    const std::string f = fuzz::ScratchPath("export");
    std::error_code ec;
    std::filesystem::create_directories(f, ec);
    return f;
  }();
  ExportResult all = ExportAllCategories(records, format, folder, options);
  if (!all.ok) __builtin_trap();  // the scratch folder is writable: nothing may fail

  // One category, as the save command writes it.
  const std::string chosen = folder + (format == ExportFormat::Csv ? "/one.csv" : "/one.txt");
  ExportResult one = ExportCurrentCategory(records, category, format, chosen, options);
  if (!one.ok) __builtin_trap();
  return 0;
}
