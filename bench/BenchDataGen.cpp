// vantrel-benchgen: writes the backup of a heavy iOS 7 user for the benchmark. At scale 1:
// 200,000 messages in 1,000 one-to-one and 20 group chats (Chinese, English, emoji, 1.25% long
// enough to overflow a page), 10% deleted; 5,000 contacts with phones, e-mails and addresses,
// 10% deleted; 140 calls, the oldest 40 deleted. Scale 0.5 and 2 halve and double the messages,
// chats and contacts (the device keeps 100 calls whatever the size). Same arguments, same bytes.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>

#include "fixtures/Fixtures.h"

namespace {

int Scaled(int base, double scale) {
  return static_cast<int>(std::lround(base * scale));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || std::string(argv[1]) == "--help") {
    std::fprintf(stderr, "usage: vantrel-benchgen OUTDIR SCALE   (SCALE 0.5, 1 or 2)\n");
    return 2;
  }
  using namespace vantrel::fixtures;
  const double scale = std::atof(argv[2]);
  if (!(scale > 0 && scale <= 8)) {
    std::fprintf(stderr, "vantrel-benchgen: SCALE must lie in (0, 8]\n");
    return 2;
  }

  BackupOptions options;
  options.deviceName = "张伟的 iPhone";
  options.productVersion = "7.1.2";
  options.buildVersion = "11D257";
  options.seed = 20140717;
  options.iosVersion = 7;
  options.deviceId = "b3a1c9d27e5f40886a1d2c3b4e5f60718293a4b5";

  MessageOptions& m = options.messages;
  m.messageCount = Scaled(200000, scale);
  m.oneToOneChats = Scaled(1000, scale);
  m.groupChats = Scaled(20, scale);
  m.groupMembers = 4;
  m.longTexts = m.messageCount / 80;  // 1.25%: each 1.5 to 2 pages long
  m.nullTexts = m.messageCount / 1000;
  m.phrasesPerText = 1;
  m.deleteFraction = 0.1;
  m.incrementalVacuum = true;  // as a real iOS 7 sms.db
  m.computeSurvival = false;   // ground truth of deleted bytes is not needed here

  ContactOptions& c = options.contacts;
  c.personCount = Scaled(5000, scale);
  c.deleteFraction = 0.1;
  c.computeSurvival = false;

  CallOptions& calls = options.calls;
  calls.callCount = 140;
  calls.keepNewest = 100;
  calls.computeSurvival = false;

  try {
    std::filesystem::create_directories(argv[1]);
    BackupTruth truth = BuildBackup(argv[1], options);
    std::printf("%s\n", truth.folder.c_str());
    std::printf("messages: %zu live, %zu deleted, %zu chats\n", truth.messages->Live().size(),
                truth.messages->Deleted().size(), truth.messages->chats.size());
    std::printf("contacts: %zu live, %zu deleted\n", truth.contacts->Live().size(),
                truth.contacts->Deleted().size());
    std::printf("calls: %zu live, %zu deleted\n", truth.calls->Live().size(),
                truth.calls->Deleted().size());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vantrel-benchgen: %s\n", e.what());
    return 1;
  }
  return 0;
}
