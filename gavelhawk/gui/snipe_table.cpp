#include "gavelhawk/gui/snipe_table.h"

#include "gavelhawk/app/exchange.h"
#include "platform/text/qgbk.h"

namespace {

struct Column {
  const char* heading;
  int width;
};
// Every column is centred but the first, as the list view has always shown them.
constexpr Column kColumns[SnipeTableModel::kColumns] = {
    {"夺宝编号", 60}, {"商品名称", 215}, {"拍卖状态", 120}, {"最高出价", 60}, {"加价幅度", 60},
    {"准备时间", 60}, {"剩余时间", 100}, {"当前价", 60},    {"组", 30}};

Qt::Alignment Align(int column) {
  return (column == 0 ? Qt::AlignLeft : Qt::AlignHCenter) | Qt::AlignVCenter;
}

}  // namespace

SnipeTableModel::SnipeTableModel(const gavelhawk::snipe::SnipeList* list, QObject* parent)
    : QAbstractTableModel(parent), list_(list) {}

int SnipeTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : std::min(list_->last + 1, gavelhawk::snipe::kListRows);
}

int SnipeTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

int SnipeTableModel::Width(int column) { return ::kColumns[column].width; }

QVariant SnipeTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Align(index.column()));
  if (role != Qt::DisplayRole) return {};
  const SnipeItem& s = list_->Row(index.row());
  switch (index.column()) {
    case 0:
      return QString::number(s.nDealId);
    case 1:
      return platform::text::GbkToQString(s.strTitle);
    case 2:
      return platform::text::GbkToQString(s.strState);
    case 3:
      return QString::number(s.nMaxPrice);
    case 4:
      return QString::number(s.nIncrement);
    case 5:
      return QString::number(s.nPrepTime);
    case 6: {
      const QString& live = remain_[static_cast<std::size_t>(index.row())];
      return live.isNull() ? QString::fromStdString(gavelhawk::ui::FormatRemain(s.nRemain)) : live;
    }
    case 7:
      return s.nCurPrice > 0 ? QString::number(s.nCurPrice) : QString();
    case 8:
      return s.nGroup > 0 ? QString::number(s.nGroup) : QString();
    default:
      return {};
  }
}

QVariant SnipeTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumns) return {};
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Align(section));
  if (role == Qt::DisplayRole) return QString::fromUtf8(::kColumns[section].heading);
  return {};
}

void SnipeTableModel::Reset() {
  beginResetModel();
  remain_.fill(QString());
  endResetModel();
}

void SnipeTableModel::RowChanged(int i) {
  if (i < 0 || i >= rowCount()) return;
  remain_[static_cast<std::size_t>(i)] = QString();
  emit dataChanged(index(i, 0), index(i, kColumns - 1));
}

void SnipeTableModel::SetRemain(int i, const QString& text) {
  if (i < 0 || i >= rowCount() || remain_[static_cast<std::size_t>(i)] == text) return;
  remain_[static_cast<std::size_t>(i)] = text;
  emit dataChanged(index(i, kRemainColumn), index(i, kRemainColumn));
}
