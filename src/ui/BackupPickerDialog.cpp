#include "ui/BackupPickerDialog.h"

#include <QBoxLayout>
#include <QGridLayout>
#include <QHeaderView>
#include <QItemSelectionModel>

#include "load/BackupLoader.h"
#include "ui/UserPrompts.h"

namespace vantrel {
namespace {

// The dialog keeps the sizes it was designed with, in dialog units: one
// horizontal unit is 1.5 pixels and one vertical unit 1.625 pixels at the
// 9-point font. Positions come from the layouts.
int DluX(int units) {
  return units * 3 / 2;
}
int DluY(int units) {
  return units * 13 / 8;
}

// Seven units on every side, in pixels as the designed controls' rounded
// edges leave them.
const QMargins kMargins(10, 11, 11, 13);

const QColor kLinkNormal(0, 0, 255);
const QColor kLinkVisited(255, 0, 0);
const QColor kLinkHover(125, 125, 0);

// The message line while no default folder is known: the letter N stands for the count.
const char kUncountedBackups[] = QT_TRANSLATE_NOOP(
    "vantrel::BackupPickerDialog", "发现N个备份,如果你的备份没有存储在此文件夹，请选择");

// The backup list: whole rows, one at a time, not editable, in the designed
// column widths.
void SetUpList(QTableView* list, BackupListModel* rows) {
  list->setModel(rows);
  list->setFixedHeight(DluY(69));
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setShowGrid(true);
  list->setWordWrap(false);
  list->verticalHeader()->hide();
  list->horizontalHeader()->setStretchLastSection(false);
  list->horizontalHeader()->setHighlightSections(false);
  for (int c = 0; c < 3; ++c) list->setColumnWidth(c, BackupListModel::kColumnWidths[c]);
}

// Under the list: the default-folder link, the message line (it may wrap)
// and the other-folder link. The links keep their designed widths, which set
// where the message starts.
QHBoxLayout* LinkRow(LinkLabel* defaultLink, QLabel* message, LinkLabel* otherLink) {
  for (LinkLabel* link : {defaultLink, otherLink}) {
    link->SetColours(kLinkNormal, kLinkVisited, kLinkHover);
    link->SetUnderline(true);
  }
  defaultLink->setFixedWidth(DluX(40));
  otherLink->setFixedWidth(DluX(59));
  message->setWordWrap(true);
  message->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  auto* linkRow = new QHBoxLayout;
  linkRow->setSpacing(0);
  linkRow->addSpacing(2);  // the links stand one unit in from the list's edge
  linkRow->addWidget(defaultLink, 0, Qt::AlignTop);
  linkRow->addWidget(message, 1, Qt::AlignTop);
  linkRow->addWidget(otherLink, 0, Qt::AlignTop);
  return linkRow;
}

// The path field with its label, which keeps its designed width (it sets
// where the field starts), and the single-file hint, which stands over the
// right end of the field, its arrow pointing down at the field's browse
// button.
QGridLayout* PathGrid(QDialog* dialog, FilePathField* path) {
  auto* hint = new QLabel(BackupPickerDialog::tr("还可以选择单个文件↘"), dialog);
  auto* hintRow = new QHBoxLayout;
  hintRow->setSpacing(0);
  hintRow->addStretch(1);
  hintRow->addWidget(hint);
  hintRow->addSpacing(DluX(12));
  auto* label = new QLabel(BackupPickerDialog::tr("文件路径:"), dialog);
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  label->setFixedWidth(DluX(46));
  path->setFixedSize(DluX(211), DluY(14));
  auto* pathGrid = new QGridLayout;
  pathGrid->setHorizontalSpacing(DluX(14));
  pathGrid->setVerticalSpacing(DluY(2));
  pathGrid->addLayout(hintRow, 0, 1);
  pathGrid->addWidget(label, 1, 0);
  pathGrid->addWidget(path, 1, 1);
  pathGrid->setColumnStretch(2, 1);
  return pathGrid;
}

// OK (the default button) and Cancel, at the right.
QHBoxLayout* ButtonRow(QPushButton* ok, QPushButton* cancel) {
  ok->setFixedSize(DluX(50), DluY(14));
  cancel->setFixedSize(DluX(50), DluY(14));
  ok->setDefault(true);
  auto* buttonRow = new QHBoxLayout;
  buttonRow->setSpacing(DluX(18));
  buttonRow->addStretch(1);
  buttonRow->addWidget(ok);
  buttonRow->addWidget(cancel);
  return buttonRow;
}

// The message line: how many backups the default folder holds, the letter N
// standing while there is no default folder.
QString CountLine(const BackupListing& listing) {
  if (listing.defaultFolder.empty()) return BackupPickerDialog::tr(kUncountedBackups);
  return BackupPickerDialog::tr("发现%1个备份,如果你的备份没有存储在此文件夹，请选择")
      .arg(listing.defaultCount);
}

// The backups of a listing, its message line and default folder, with its
// selected row current and in view.
void ShowListing(const BackupListing& listing, LinkLabel* defaultLink, QLabel* message,
                 BackupListModel& rows, QTableView* list) {
  if (listing.defaultFolder.empty()) {
    defaultLink->SetOpenOnClick(false);  // no target: a click does nothing
  } else {
    defaultLink->SetTarget(QString::fromStdString(listing.defaultFolder));
  }
  // The other-folder link opens nothing itself; its click runs the folder browse.
  message->setText(CountLine(listing));
  rows.SetRows(listing.rows);
  if (listing.selectedRow >= 0 && listing.selectedRow < rows.rowCount()) {
    const QModelIndex index = rows.index(listing.selectedRow, 0);
    list->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    list->scrollTo(index);
    list->setFocus();
  }
}

}  // namespace

BackupPickerDialog::BackupPickerDialog(RememberedBackups& remembered, UserPrompts& prompts,
                                       const std::string& pathText, QWidget* parent)
    : QDialog(parent),
      remembered_(remembered),
      prompts_(prompts),
      pathText_(pathText),
      rows_(this),
      list_(new QTableView(this)),
      defaultLink_(new LinkLabel(tr("默认文件夹"), this)),
      message_(new QLabel(tr(kUncountedBackups), this)),
      otherLink_(new LinkLabel(tr("其他备份文件夹"), this)),
      path_(new FilePathField(prompts, this)),
      ok_(new QPushButton(tr("确定"), this)),
      cancel_(new QPushButton(tr("取消"), this)) {
  setWindowTitle(tr("选择备份"));
  setFixedSize(DluX(330), DluY(192));

  SetUpList(list_, &rows_);
  QHBoxLayout* linkRow = LinkRow(defaultLink_, message_, otherLink_);
  QGridLayout* pathGrid = PathGrid(this, path_);
  QHBoxLayout* buttonRow = ButtonRow(ok_, cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(kMargins);
  layout->setSpacing(0);
  layout->addWidget(list_);
  layout->addSpacing(DluY(8));
  layout->addLayout(linkRow);
  layout->addStretch(1);
  layout->addLayout(pathGrid);
  layout->addSpacing(DluY(13));
  layout->addLayout(buttonRow);

  connect(ok_, &QPushButton::clicked, this, &BackupPickerDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &BackupPickerDialog::reject);
  connect(otherLink_, &LinkLabel::clicked, this, &BackupPickerDialog::BrowseOtherFolder);
  connect(path_, &FilePathField::fileChosen, this, &BackupPickerDialog::ForgetRowSelection);
  connect(list_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          &BackupPickerDialog::ShowRowFolder);

  // What the dialog shows on opening: the caller's path, then the backups.
  path_->setText(QString::fromStdString(pathText));
  ShowListing(remembered_.OpenListing(), defaultLink_, message_, rows_, list_);
}

void BackupPickerDialog::ShowRowFolder(const QModelIndex& current) {
  if (!current.isValid()) return;
  const std::string folder = remembered_.FolderAt(current.row());
  if (!folder.empty()) path_->setText(QString::fromStdString(folder));
}

void BackupPickerDialog::ForgetRowSelection() {
  list_->selectionModel()->clear();  // no selection and no selection mark
}

void BackupPickerDialog::BrowseOtherFolder() {
  const std::string folder = prompts_.AskBackupFolder();
  if (folder.empty()) return;
  int rowCount = rows_.rowCount();
  const int firstNew = rowCount;
  BackupRow row;
  if (remembered_.AddBackupRow(folder, rowCount, row)) {
    rows_.AppendRow(row);
  } else {
    // The folder that holds the backups (the sync software's Backup folder, a
    // common choice): each backup in it becomes a row. Anything else: nothing.
    for (const std::string& held : BackupsHeldIn(folder))
      if (remembered_.AddBackupRow(held, rowCount, row)) rows_.AppendRow(row);
    if (rowCount == firstNew) return;
  }
  path_->setText(QString::fromStdString(remembered_.FolderAt(firstNew)));
  // Select the (first) new row, so that OK remembers it and the next opening selects it again.
  list_->selectionModel()->setCurrentIndex(
      rows_.index(firstNew, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void BackupPickerDialog::accept() {
  pathText_ = path_->text().toStdString();
  const QModelIndex mark = list_->selectionModel()->currentIndex();
  remembered_.Confirm(mark.isValid() ? mark.row() : -1);
  QDialog::accept();
}

}  // namespace vantrel
