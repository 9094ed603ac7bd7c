#include "app/window/result_model.h"

#include <algorithm>

#include "encoding/sjis.h"

namespace kuribo {
namespace {

QString FromSjis(const std::string& s) {
  // A snippet may end inside a two-byte character: drop the half.
  return QString::fromStdString(SjisToUtf8(s, 0));
}

int Sign(int c) { return c < 0 ? -1 : (c > 0 ? 1 : 0); }

template <typename T>
int Compare(T a, T b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}

}  // namespace

int ListView3Compare(const ResultRow& a, const ResultRow& b, int column) {
  switch (column) {
    case ResultModel::kHits:
      return Compare(b.hits, a.hits);
    case ResultModel::kSize:
      return Compare(b.size, a.size);
    // Byte-wise on the Shift_JIS bytes (char_traits compares as unsigned char).
    case ResultModel::kName:
      return Sign(a.name.compare(b.name));
    case ResultModel::kType:
      return Sign(a.type.compare(b.type));
    case ResultModel::kPath:
      return Sign(a.sjisPath.compare(b.sjisPath));
    case ResultModel::kSnippet:
      return Sign(a.snippet.compare(b.snippet));
    case ResultModel::kDate:
      return Sign(a.date.compare(b.date));
    default:
      // NO is the position: every row compares equal, the order stays.
      return 0;
  }
}

ResultModel::ResultModel(QObject* parent) : QAbstractTableModel(parent) {}

int ResultModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : (int)items_.size();
}

int ResultModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

QVariant ResultModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= (int)items_.size()) return {};
  const Item& item = items_[(size_t)index.row()];
  const ResultRow& r = item.row;
  if (role == Qt::DisplayRole) {
    switch (index.column()) {
      case kNo:
        return QString::number(index.row() + 1);
      case kName:
        return FromSjis(r.name);
      case kType:
        return FromSjis(r.type);
      case kHits:
        return QString::number(r.hits);
      case kPath:
        return FromSjis(r.sjisPath);
      case kSnippet:
        return FromSjis(r.snippet);
      case kDate:
        return QString::fromStdString(r.date);
      case kSize:
        return QString::number(r.size);
    }
  } else if (role == Qt::CheckStateRole && index.column() == kNo) {
    return item.checked ? Qt::Checked : Qt::Unchecked;
  } else if (role == Qt::TextAlignmentRole) {
    if (index.column() == kHits || index.column() == kSize) {
      return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    }
    return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
  } else if (role == Qt::ToolTipRole) {
    // A narrow column cuts these off; the tooltip shows them whole.
    if (index.column() == kSnippet) return FromSjis(r.snippet);
    if (index.column() == kPath) return FromSjis(r.sjisPath);
  }
  return {};
}

QVariant ResultModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  static const char* const kHeaders[kColumns] = {"NO",           "ファイル名", "タイプ", "ヒット",
                                                 "ファイルパス", "検索結果",   "日付",   "サイズ"};
  if (role == Qt::DisplayRole && section >= 0 && section < kColumns) {
    return QString::fromUtf8(kHeaders[section]);
  }
  if (role == Qt::TextAlignmentRole) {
    if (section == kHits || section == kSize) {
      return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    }
    return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
  }
  return {};
}

Qt::ItemFlags ResultModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == kNo) f |= Qt::ItemIsUserCheckable;
  return f;
}

bool ResultModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::CheckStateRole || index.column() != kNo) return false;
  SetChecked(index.row(), value.toInt() == Qt::Checked);
  emit TicksChanged();
  return true;
}

void ResultModel::Clear() {
  beginResetModel();
  items_.clear();
  items_.shrink_to_fit();
  checked_ = 0;
  endResetModel();
}

void ResultModel::Append(std::vector<ResultRow>&& rows) {
  if (rows.empty()) return;
  const int first = (int)items_.size();
  beginInsertRows(QModelIndex(), first, first + (int)rows.size() - 1);
  items_.reserve(items_.size() + rows.size());
  for (ResultRow& r : rows) items_.push_back(Item{std::move(r), false});
  endInsertRows();
}

void ResultModel::Sort(int column) {
  if (column <= kNo || column >= kColumns || items_.size() < 2) return;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  std::vector<size_t> order(items_.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return ListView3Compare(items_[a].row, items_[b].row, column) < 0;
  });
  std::vector<Item> sorted;
  sorted.reserve(items_.size());
  for (size_t i : order) sorted.push_back(std::move(items_[i]));
  items_ = std::move(sorted);
  // Selections and the current row follow their rows.
  std::vector<int> newRow(order.size());
  for (size_t i = 0; i < order.size(); ++i) newRow[order[i]] = (int)i;
  const QModelIndexList old = persistentIndexList();
  QModelIndexList moved;
  moved.reserve(old.size());
  for (const QModelIndex& ix : old) {
    moved.append(index(newRow[(size_t)ix.row()], ix.column()));
  }
  changePersistentIndexList(old, moved);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void ResultModel::SetChecked(int i, bool checked) {
  Item& item = items_[(size_t)i];
  if (item.checked == checked) return;
  item.checked = checked;
  checked_ += checked ? 1 : -1;
  const QModelIndex ix = index(i, kNo);
  emit dataChanged(ix, ix, {Qt::CheckStateRole});
}

void ResultModel::SetAllChecked(bool checked) {
  for (Item& item : items_) item.checked = checked;
  checked_ = checked ? (int)items_.size() : 0;
  if (!items_.empty()) {
    emit dataChanged(index(0, kNo), index((int)items_.size() - 1, kNo), {Qt::CheckStateRole});
  }
}

std::vector<ResultRow> ResultModel::Rows() const {
  std::vector<ResultRow> rows;
  rows.reserve(items_.size());
  for (const Item& item : items_) rows.push_back(item.row);
  return rows;
}

void ResultModel::Remove(const std::vector<bool>& drop) {
  beginResetModel();
  std::vector<Item> kept;
  kept.reserve(items_.size());
  checked_ = 0;
  for (size_t i = 0; i < items_.size(); ++i) {
    if (i < drop.size() && drop[i]) continue;
    if (items_[i].checked) ++checked_;
    kept.push_back(std::move(items_[i]));
  }
  items_ = std::move(kept);
  endResetModel();
}

}  // namespace kuribo
