#include "ui/BackupPickerDialog.h"

#include <QHeaderView>
#include <QItemSelectionModel>

#include "ui/UserPrompts.h"

namespace vantrel {
namespace {

// The dialog is laid out in dialog units, as its controls were designed: one
// horizontal unit is 1.5 pixels and one vertical unit 1.625 pixels at the 9-point font.
QRect Dlu(int x, int y, int width, int height) {
  auto h = [](int v) { return v * 3 / 2; };
  auto v = [](int u) { return u * 13 / 8; };
  return QRect(h(x), v(y), h(width), v(height));
}

const QColor kLinkNormal(0, 0, 255);
const QColor kLinkVisited(255, 0, 0);
const QColor kLinkHover(125, 125, 0);

}  // namespace

BackupPickerDialog::BackupPickerDialog(RememberedBackups& remembered, UserPrompts& prompts,
                                       const std::string& pathText, QWidget* parent)
    : QDialog(parent),
      remembered_(remembered),
      prompts_(prompts),
      pathText_(pathText),
      rows_(this),
      list_(new QTableView(this)),
      defaultLink_(new LinkLabel("默认文件夹", this)),
      message_(new QLabel(kBackupCountTemplate, this)),
      otherLink_(new LinkLabel("其他备份文件夹", this)),
      path_(new FilePathField(prompts, this)),
      ok_(new QPushButton("确定", this)),
      cancel_(new QPushButton("取消", this)) {
  setWindowTitle("选择备份");
  setFixedSize(Dlu(0, 0, 330, 192).size());

  list_->setModel(&rows_);
  list_->setGeometry(Dlu(7, 7, 316, 69));
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setShowGrid(true);
  list_->setWordWrap(false);
  list_->verticalHeader()->hide();
  list_->horizontalHeader()->setStretchLastSection(false);
  list_->horizontalHeader()->setHighlightSections(false);
  for (int c = 0; c < 3; ++c) list_->setColumnWidth(c, BackupListModel::kColumnWidths[c]);

  defaultLink_->setGeometry(Dlu(8, 85, 40, 8).adjusted(0, -2, 0, 4));
  message_->setGeometry(Dlu(48, 85, 216, 12).adjusted(0, -2, 0, 0));
  message_->setWordWrap(true);
  message_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  otherLink_->setGeometry(Dlu(264, 85, 59, 8).adjusted(0, -2, 0, 4));
  for (LinkLabel* link : {defaultLink_, otherLink_}) {
    link->SetColours(kLinkNormal, kLinkVisited, kLinkHover);
    link->SetUnderline(true);
  }
  auto* hint = new QLabel("还可以选择单个文件↘", this);
  hint->setGeometry(Dlu(186, 133, 80, 10).adjusted(0, -2, 0, 0));
  auto* label = new QLabel("文件路径:", this);
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  label->setGeometry(Dlu(7, 147, 46, 8).adjusted(0, -4, 0, 4));
  path_->setGeometry(Dlu(67, 144, 211, 14));
  ok_->setGeometry(Dlu(205, 171, 50, 14));
  cancel_->setGeometry(Dlu(273, 171, 50, 14));
  ok_->setDefault(true);

  connect(ok_, &QPushButton::clicked, this, &BackupPickerDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &BackupPickerDialog::reject);
  connect(otherLink_, &LinkLabel::clicked, this, &BackupPickerDialog::BrowseOtherFolder);
  connect(path_, &FilePathField::fileChosen, this, &BackupPickerDialog::ForgetRowSelection);
  connect(list_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          &BackupPickerDialog::ShowRowFolder);

  // What the dialog shows on opening: the caller's path, then the backups.
  path_->setText(QString::fromStdString(pathText));
  const BackupListing listing = remembered_.OpenListing();
  if (listing.defaultFolder.empty()) {
    defaultLink_->SetOpenOnClick(false);  // no target: a click does nothing
  } else {
    defaultLink_->SetTarget(QString::fromStdString(listing.defaultFolder));
  }
  // The other-folder link opens nothing itself; its click runs the folder browse.
  message_->setText(QString::fromStdString(listing.messageLine));
  rows_.SetRows(listing.rows);
  if (listing.selectedRow >= 0 && listing.selectedRow < rows_.rowCount()) {
    const QModelIndex index = rows_.index(listing.selectedRow, 0);
    list_->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    list_->scrollTo(index);
    list_->setFocus();
  }
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
  BackupRow row;
  if (!remembered_.AddBackupRow(folder, rowCount, row)) return;  // not a device backup: nothing
  rows_.AppendRow(row);
  path_->setText(QString::fromStdString(folder));
  // Select the new row, so that OK remembers it and the next opening selects it again.
  list_->selectionModel()->setCurrentIndex(
      rows_.index(rowCount - 1, 0),
      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void BackupPickerDialog::accept() {
  pathText_ = path_->text().toStdString();
  const QModelIndex mark = list_->selectionModel()->currentIndex();
  remembered_.Confirm(mark.isValid() ? mark.row() : -1);
  QDialog::accept();
}

}  // namespace vantrel
