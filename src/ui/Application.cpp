#include "ui/Application.h"

#include <QFontDatabase>
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/Version.h"
#include "ui/Artwork.h"
#include "ui/DetailPane.h"
#include "ui/MainWindow.h"
#include "ui/ProductName.h"
#include "ui/QtUserPrompts.h"
#include "ui/Settings.h"

namespace vantrel {
namespace {

constexpr char kUsage[] =
    "Usage: vantrel [PATH]\n"
    "   or: vantrel --screenshot FILE.png [PATH]\n"
    "\n"
    "  PATH                 a device backup folder or a single database file; without it\n"
    "                       the backup selection dialog opens first\n"
    "  --screenshot FILE    load PATH, list the first category, save the window as FILE, exit\n"
    "  --node N, --row R    with --screenshot: list node N of that category, select row R\n"
    "  --find TEXT          with --screenshot: select the first row whose text ends in TEXT\n"
    "  --select-category NODE  with --screenshot: list this tree node instead, named by\n"
    "                       its path, e.g. 短信/会话/未知会话\n"
    "  --search TEXT        with --screenshot: type TEXT into the search field\n"
    "  -h, --help           show this help\n"
    "  -V, --version        show the version and the commit it was built from\n";

// Answers for a run nobody watches: every question is cancelled, notices go to stderr.
class UnattendedPrompts : public UserPrompts {
 public:
  std::optional<std::string> ChooseBackup(const std::string&, RememberedBackups&) override {
    return std::nullopt;
  }
  std::string AskBackupFolder() override { return {}; }
  std::string AskOpenFile(const std::string&) override { return {}; }
  void ShowMessage(const std::string& text) override {
    std::fprintf(stderr, "vantrel: %s\n", text.c_str());
  }
  void ShowAbout() override {}
  std::optional<std::string> AskSaveFile(const std::string&, const FileFilters&) override {
    return std::nullopt;
  }
  std::optional<std::string> AskFolder(const std::string&) override { return std::nullopt; }
  void ShowDone() override {}
  void ShowError(const std::string& text) override { ShowMessage(text); }
};

}  // namespace

Application::Application(int& argc, char** argv) : app_(argc, argv) {
  // Set once here: Settings (QSettings) files its keys under these names.
  QApplication::setOrganizationName("Vantrel");
  QApplication::setApplicationName("vantrel");
  QApplication::setApplicationDisplayName(kProductDisplayName);
  QApplication::setApplicationVersion(VersionNumber());
  QGuiApplication::setDesktopFileName(kDesktopId);
  QApplication::setWindowIcon(ApplicationIcon());
  UseCjkFont(app_);
}

bool Application::AnswerWithoutWindow(int argc, char** argv, int& status) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, stdout);
      status = 0;
      return true;
    }
    if (std::strcmp(argv[i], "-V") == 0 || std::strcmp(argv[i], "--version") == 0) {
      std::printf("%s\n", VersionLine("vantrel").c_str());
      status = 0;
      return true;
    }
  }
  return false;
}

void Application::UseCjkFont(QApplication& app) {
  if (!QFontDatabase::families().contains(kDetailFontFamily)) return;
  QFont font = QApplication::font();
  font.setFamilies({kDetailFontFamily, font.family()});
  font.setPointSize(9);
  app.setFont(font);
}

bool Application::ParseArguments(const QStringList& arguments, StartOptions& options,
                                 QString& error) {
  for (int i = 0; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    if (argument == "--screenshot") {
      if (i + 1 >= arguments.size()) {
        error = "--screenshot needs a file name";
        return false;
      }
      options.screenshot = arguments[++i].toStdString();
    } else if (argument.startsWith("--screenshot=")) {
      options.screenshot = argument.mid(13).toStdString();
    } else if (argument == "--find" && i + 1 < arguments.size()) {
      options.find = arguments[++i].toStdString();
    } else if ((argument == "--node" || argument == "--row") && i + 1 < arguments.size()) {
      bool number = false;
      const int value = arguments[++i].toInt(&number);
      if (!number || value < 0) {
        error = argument + " needs a number";
        return false;
      }
      (argument == "--node" ? options.node : options.row) = value;
    } else if (argument == "--select-category" || argument == "--search") {
      if (i + 1 >= arguments.size()) {
        error = argument + " needs a value";
        return false;
      }
      (argument == "--search" ? options.search : options.selectCategory) =
          arguments[++i].toStdString();
    } else if (argument.startsWith('-') && argument.size() > 1) {
      error = "unknown option " + argument;
      return false;
    } else if (options.path) {
      error = "more than one path given";
      return false;
    } else {
      options.path = argument.toStdString();
    }
  }
  return true;
}

void Application::ShowFirstCategory(MainWindow& frame, int nodeIndex, int row,
                                    const std::string& find) {
  CategoryTree& tree = frame.treePane().tree();
  for (int i = 0; i < tree.topLevelItemCount(); ++i) {
    QTreeWidgetItem* category = tree.topLevelItem(i);
    if (category->childCount() == 0) continue;
    QTreeWidgetItem* node = category->child(std::min(nodeIndex, category->childCount() - 1));
    tree.setCurrentItem(node);
    frame.treePane().OnNodeClicked(node);
    RecordListView& list = frame.recordList();
    if (list.model()->rowCount() > 0) {
      row = std::min(row, list.model()->rowCount() - 1);
      for (int r = 0; !find.empty() && r < list.model()->rowCount(); ++r) {
        const std::string text = list.records().CellText(r, 0);
        if (text.size() >= find.size() &&
            text.compare(text.size() - find.size(), find.size(), find) == 0) {
          row = r;
          break;
        }
      }
      list.selectRow(row);
      list.scrollTo(list.model()->index(row, 0));
      frame.detailPane().ShowRow(row);
    }
    return;
  }
}

bool Application::ShowCategory(MainWindow& frame, const QString& path) {
  CategoryTree& tree = frame.treePane().tree();
  QTreeWidgetItem* node = nullptr;
  // Names may hold "/" themselves ("张伟 / 王芳"): each level takes the child
  // whose whole name starts what is left of the path.
  QString rest = path;
  while (!rest.isEmpty()) {
    QTreeWidgetItem* next = nullptr;
    const int count = node ? node->childCount() : tree.topLevelItemCount();
    for (int i = 0; i < count && !next; ++i) {
      QTreeWidgetItem* child = node ? node->child(i) : tree.topLevelItem(i);
      const QString name = CategoryTree::NodeName(child);
      if (rest == name || rest.startsWith(name + '/')) next = child;
    }
    if (!next) return false;
    rest = rest.mid(CategoryTree::NodeName(next).size() + 1);
    node = next;
    if (node->parent()) node->parent()->setExpanded(true);
  }
  if (!node) return false;
  tree.setCurrentItem(node);
  tree.scrollToItem(node);
  frame.treePane().OnNodeClicked(node);
  return true;
}

int Application::RunScreenshot(const StartOptions& options) {
  UnattendedPrompts prompts;
  MainWindow frame(prompts);
  frame.resize(1280, 800);
  frame.show();
  QApplication::processEvents();
  if (options.path) {
    frame.LoadPath(*options.path);
    if (options.selectCategory) {
      if (!ShowCategory(frame, QString::fromStdString(*options.selectCategory))) {
        std::fprintf(stderr, "vantrel: no tree node %s\n", options.selectCategory->c_str());
        return 1;
      }
    } else {
      ShowFirstCategory(frame, options.node, options.row, options.find);
    }
    if (options.search) frame.searchBar().field().setText(QString::fromStdString(*options.search));
    RecordListView& list = frame.recordList();
    if ((options.selectCategory || options.search) && list.model()->rowCount() > 0) {
      list.selectRow(0);
      frame.detailPane().ShowRow(0);
    }
  }
  for (int i = 0; i < 3; ++i) QApplication::processEvents();
  const QString file = QString::fromStdString(*options.screenshot);
  if (!frame.grab().save(file, "PNG")) {
    std::fprintf(stderr, "vantrel: cannot write %s\n", options.screenshot->c_str());
    return 1;
  }
  return 0;
}

int Application::Run() {
  StartOptions options;
  QString error;
  QStringList arguments = QApplication::arguments();
  arguments.removeFirst();
  if (arguments.contains("-h") || arguments.contains("--help")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (!ParseArguments(arguments, options, error)) {
    std::fprintf(stderr, "vantrel: %s\n%s", error.toLocal8Bit().constData(), kUsage);
    return 2;
  }
  if (options.screenshot) return RunScreenshot(options);

  Settings settings;
  QtUserPrompts prompts;
  prompts.SetSettings(&settings);
  MainWindow frame(prompts);
  prompts.SetParent(&frame);
  frame.resize(1280, 800);
  frame.UseSettings(&settings);
  frame.show();
  QApplication::processEvents();
  if (options.path) {
    frame.LoadPath(*options.path);
  } else {
    frame.SelectBackup();
  }
  return app_.exec();
}

}  // namespace vantrel
