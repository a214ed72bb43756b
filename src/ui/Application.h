// Application start-up: `vantrel [PATH]` opens the main window and loads PATH,
// or without PATH runs the backup selection first; `vantrel --screenshot
// FILE.png [PATH]` renders the window after loading PATH, with the first
// category's records listed, saves it as a PNG and exits (works on the
// offscreen platform).
#pragma once

#include <QApplication>
#include <optional>
#include <string>

namespace vantrel {

class MainWindow;

// What the command line asks for.
struct StartOptions {
  std::optional<std::string> path;        // load this instead of asking
  std::optional<std::string> screenshot;  // render into this PNG and exit
};

class Application {
 public:
  Application(int& argc, char** argv);
  int Run();

  // Answers -h/--help and -V/--version on stdout before any window system is
  // needed (so they work over ssh and for help2man); returns false when the
  // arguments ask for something else.
  static bool AnswerWithoutWindow(int argc, char** argv, int& status);

  // The desktop entry's name without ".desktop", which is also the AppStream id;
  // Wayland compositors match the window to the entry (and its icon) by it.
  static constexpr char kDesktopId[] = "org.vantrel.Vantrel";

  // Parses the arguments after the program name. Returns false (with a
  // one-line reason in error) for an unknown option or a missing value.
  static bool ParseArguments(const QStringList& arguments, StartOptions& options, QString& error);

  // Selects the first category's first child and lists its records, then
  // presses the list's first row so the detail pane shows it.
  static void ShowFirstCategory(MainWindow& frame);

  // Puts the CJK-capable font first, so Chinese labels never show as boxes.
  static void UseCjkFont(QApplication& app);

 private:
  int RunScreenshot(const StartOptions& options);

  QApplication app_;
};

}  // namespace vantrel
