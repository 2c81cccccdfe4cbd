#include "tallyglass/gui/DataGrid.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QTableView>
#include <QVBoxLayout>

#include "tallyglass/db/history_db.h"

CDataGrid::CDataGrid(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  caption_ = new QLabel(QStringLiteral("查询记录"), this);
  caption_->setAlignment(Qt::AlignCenter);
  caption_->setFrameShape(QFrame::Panel);
  caption_->setFrameShadow(QFrame::Raised);
  caption_->setAutoFillBackground(true);
  caption_->setBackgroundRole(QPalette::Button);
  view_ = new QTableView(this);
  view_->setAccessibleName(QStringLiteral("查询记录"));
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setSelectionMode(QAbstractItemView::SingleSelection);
  view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view_->setAlternatingRowColors(true);
  view_->setWordWrap(false);
  view_->horizontalHeader()->setHighlightSections(false);
  view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 4);
  view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view_->verticalHeader()->setHighlightSections(true);
  setFocusProxy(view_);
  layout->addWidget(caption_);
  layout->addWidget(view_, 1);
}

CDataGrid::~CDataGrid() {
  if (rs_) rs_->onCurrentRowChanged = nullptr;
}

QString CDataGrid::Caption() const { return caption_->text(); }

void CDataGrid::SetCaption(const QString& text) { caption_->setText(text); }

int CDataGrid::CurrentRow() const {
  QModelIndex i = view_->currentIndex();
  return i.isValid() ? i.row() : -1;
}

void CDataGrid::AttachDataSource(tallyglass::db::HistoryResultSet* rs) {
  if (rs_ && rs_ != rs) rs_->onCurrentRowChanged = nullptr;
  rs_ = rs;
  if (!rs) {
    view_->setModel(nullptr);
    return;
  }
  if (view_->model() != rs->Model()) {
    view_->setModel(rs->Model());
    connect(view_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
              if (syncing_ || !rs_) return;
              syncing_ = true;
              rs_->SetCurrentRow(current.isValid() ? current.row() : -1);
              syncing_ = false;
            });
    // A query's rows arrive after it started.
    connect(rs->Model(), &QAbstractItemModel::modelReset, this, &CDataGrid::FitColumns);
  }
  rs->onCurrentRowChanged = [this](int row) { ShowRow(row); };
  FitColumns();
  ShowRow(rs->CurrentRow());
}

void CDataGrid::FitColumns() {
  if (!rs_) return;
  // Titles are long; the other columns fit their headings and numbers.
  view_->resizeColumnsToContents();
  int title = rs_->FieldNames().indexOf(QStringLiteral("Title"));
  if (title >= 0) view_->setColumnWidth(title, std::max(view_->columnWidth(title), width() / 3));
}

void CDataGrid::ShowRow(int row) {
  if (syncing_) return;
  syncing_ = true;
  QItemSelectionModel* sel = view_->selectionModel();
  if (sel) {
    if (row < 0) {
      sel->clearCurrentIndex();
      sel->clearSelection();
    } else {
      QModelIndex i = view_->model()->index(row, std::max(0, view_->currentIndex().column()));
      sel->setCurrentIndex(i, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
      view_->scrollTo(i);
    }
  }
  syncing_ = false;
}
