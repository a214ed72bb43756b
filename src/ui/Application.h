// Application start-up: `vantrel [PATH]` opens the main window and loads PATH,
// or without PATH runs the backup selection first; `vantrel --screenshot
// FILE.png [PATH]` renders the window after loading PATH, with the first
// category's records listed (or the node --select-category names, with
// --search typed), saves it as a PNG and exits (works on the offscreen
// platform).
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
  int node = 0;                           // screenshot: the node of the first category shown
  int row = 0;                            // screenshot: the row selected in it
  std::string find;                       // screenshot: else the first row whose text ends so
  // Screenshots: the tree node to list instead of the first category, as its
  // names from the top joined by "/" ("短信/会话/未知会话"), and what to type
  // into the search field.
  std::optional<std::string> selectCategory;
  std::optional<std::string> search;
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
  static void ShowFirstCategory(MainWindow& frame, int nodeIndex = 0, int row = 0,
                                const std::string& find = {});
  // Selects the node at a "/"-joined path of names and lists it as a click
  // would, pressing the first row; false when no node has that path.
  static bool ShowCategory(MainWindow& frame, const QString& path);

  // Puts the CJK-capable font first, so Chinese labels never show as boxes.
  static void UseCjkFont(QApplication& app);

 private:
  int RunScreenshot(const StartOptions& options);

  QApplication app_;
};

}  // namespace vantrel
