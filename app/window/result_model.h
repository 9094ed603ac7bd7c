// The rows of the result list with their ticks. The view asks only for the
// rows it shows, so a hundred thousand rows cost nothing until they are seen.
#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "app/search.h"

namespace kuribo {

class ResultModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kNo, kName, kType, kHits, kPath, kSnippet, kDate, kSize, kColumns };

  explicit ResultModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

  void Clear();
  void Append(std::vector<ResultRow>&& rows);
  // Sorts by a column in its fixed direction; the NO column always reads the
  // position, so the rows are numbered afresh by the sort itself.
  void Sort(int column);

  int Count() const { return (int)items_.size(); }
  const ResultRow& Row(int i) const { return items_[(size_t)i].row; }
  bool Checked(int i) const { return items_[(size_t)i].checked; }
  void SetChecked(int i, bool checked);
  void SetAllChecked(bool checked);
  int CheckedCount() const { return checked_; }
  std::vector<ResultRow> Rows() const;
  // Drops the rows whose flag is set, keeping the order of the others.
  void Remove(const std::vector<bool>& drop);

 signals:
  // A tick was set or cleared by the user (through the view).
  void TicksChanged();

 private:
  struct Item {
    ResultRow row;
    bool checked = false;
  };
  std::vector<Item> items_;
  int checked_ = 0;
};

// The comparison of two rows for a column: negative, zero or positive.
int ListView3Compare(const ResultRow& a, const ResultRow& b, int column);

}  // namespace kuribo
