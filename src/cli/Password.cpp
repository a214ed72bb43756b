// Getting the backup password (file, environment, terminal) and unlocking.
#include "cli/Password.h"

#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <ostream>

#include "cli/Cli.h"
#include "export/StatusTexts.h"
#include "platform/ReadOnlyFile.h"

namespace vantrel {
namespace {

// A password file holds the password on its first line; the line end is not
// part of it.
void CutLineEnd(SecretBytes& password) {
  std::string_view v = password.view();
  const size_t end = v.find_first_of("\r\n");
  if (end != std::string_view::npos) password = SecretBytes(v.substr(0, end));
}

// Reads one line from standard input with echo off, the prompt on err.
bool AskOnTerminal(std::ostream& err, SecretBytes& password) {
  if (isatty(STDIN_FILENO) != 1) return false;
  err << "备份密码: " << std::flush;
  termios saved{};
  const bool canHide = tcgetattr(STDIN_FILENO, &saved) == 0;
  if (canHide) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  std::string line;
  char c = 0;
  bool any = false;
  while (::read(STDIN_FILENO, &c, 1) == 1) {
    any = true;
    if (c == '\n') break;
    line += c;
  }
  if (canHide) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  password = SecretBytes(line);
  WipeString(line);
  return any;
}

}  // namespace

int UnlockForCli(const ExaminedPath& backup, const CommandLine& cl, std::ostream& err,
                 std::optional<BackupKeys>& keys) {
  keys.reset();
  if (backup.kind != PathKind::EncryptedBackup) return kExitOk;
  const std::string& folder = backup.path;
  SecretBytes password;
  bool have = false;
  if (cl.Has("--password-file")) {
    const std::string path = cl.Get("--password-file");
    std::string bytes, error;
    if (!ReadWholeFile(path, bytes, &error)) {
      err << "vantrel-cli: " << path << ": cannot read the password file (" << error << ")\n";
      return kExitPassword;
    }
    password = SecretBytes(bytes);
    WipeString(bytes);
    CutLineEnd(password);
    have = true;
  } else if (const char* env = std::getenv(kPasswordEnvironment)) {
    password = SecretBytes(std::string_view(env));
    have = true;
  } else {
    have = AskOnTerminal(err, password);
  }
  if (!have) {
    err << "vantrel-cli: " << folder << ": 此备份已加密，需要备份密码：用 --password-file FILE、"
        << "环境变量 " << kPasswordEnvironment << "，或在终端中输入\n";
    return kExitPassword;
  }
  BackupKeys unlocked = UnlockBackup(backup.manifest, password.view());
  password.Wipe();
  switch (unlocked.status) {
    case BackupUnlockStatus::Unlocked:
      keys = std::move(unlocked);
      return kExitOk;
    case BackupUnlockStatus::NotEncrypted:
      return kExitOk;
    case BackupUnlockStatus::WrongPassword:
      err << "vantrel-cli: " << folder << ": " << UnlockFailureText(unlocked.status) << "\n";
      return kExitPassword;
    default:
      err << "vantrel-cli: " << folder << ": " << UnlockFailureText(unlocked.status) << "\n";
      return kExitNoData;
  }
}

}  // namespace vantrel
