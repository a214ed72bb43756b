// Info.plist texts for the backup tests, written the way the desktop sync
// software writes them (sorted keys, tab indentation), from the values a test
// chooses, so that expectations come from those values.
#pragma once

#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace vantrel::testing {

using PlistEntry = std::pair<std::string, std::string>;  // key, value element(s) as written

inline std::string PlistText(const std::vector<PlistEntry>& entries, bool declaration = true) {
  std::string text;
  if (declaration) text += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  text +=
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\">\n<dict>\n";
  for (const auto& [key, value] : entries) text += "\t<key>" + key + "</key>\n\t" + value + "\n";
  text += "</dict>\n</plist>\n";
  return text;
}

inline std::string StringElement(const std::string& s) {
  return "<string>" + s + "</string>";
}
inline std::string DateElement(const std::string& s) {
  return "<date>" + s + "</date>";
}

// A real Info.plist's keys around the three that are read.
inline std::vector<PlistEntry> InfoEntries(const std::string& nameXml, const std::string& date,
                                           const std::string& version) {
  return {{"Build Version", StringElement("11D257")},
          {"Device Name", StringElement(nameXml)},
          {"Display Name", StringElement(nameXml)},
          {"GUID", StringElement("00112233445566778899AABBCCDDEEFF")},
          {"Installed Applications", "<array>\n\t\t<string>com.example.app</string>\n\t</array>"},
          {"Last Backup Date", DateElement(date)},
          {"Phone Number", StringElement("+86 138 0013 8000")},
          {"Product Type", StringElement("iPhone5,2")},
          {"Product Version", StringElement(version)},
          {"Serial Number", StringElement("XXXXXXXXXXXX")},
          {"iTunes Settings", "<dict/>"}};
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace vantrel::testing
