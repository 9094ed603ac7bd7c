// Marks the keyword hits in the snippet cell of the result list. The cell's
// text stays as it is; only its drawing changes.
#pragma once

#include <QStyledItemDelegate>
#include <utility>
#include <vector>

#include "app/keywords.h"

namespace kuribo {

// The UTF-16 ranges (start, length) of `SjisToUtf8(snippet, 0)` covered by a
// match of any entry of `keywords`, found as the search counts them (one-byte
// entries never inside a two-byte character; after a match at s the scan
// resumes at s + m - 1). Overlapping ranges are merged, in order.
std::vector<std::pair<int, int>> HitRanges(const std::string& snippet, const KeywordList& keywords);

class HitDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  // The expanded keyword list of the run whose rows are shown.
  void SetKeywords(KeywordList keywords) { keywords_ = std::move(keywords); }
  const KeywordList& Keywords() const { return keywords_; }

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;

 private:
  KeywordList keywords_;
};

}  // namespace kuribo
