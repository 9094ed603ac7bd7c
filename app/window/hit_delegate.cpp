#include "app/window/hit_delegate.h"

#include <QApplication>
#include <QPainter>
#include <QTextLayout>
#include <algorithm>

#include "app/window/result_model.h"
#include "encoding/sjis.h"

namespace kuribo {
namespace {

bool IsLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
// The byte before a one-byte keyword that makes it the second half of a character.
bool IsFirstHalf(unsigned char c) { return (c >= 0x80 && c <= 0x9F) || (c >= 0xE0 && c <= 0xEF); }

}  // namespace

std::vector<std::pair<int, int>> HitRanges(const std::string& snippet, const KeywordList& keywords) {
  const size_t n = snippet.size();
  std::vector<char> hit(n, 0);
  bool any = false;
  for (const std::string& k : keywords) {
    const size_t m = k.size();
    if (m == 0 || m > n) continue;
    if (m == 1) {
      for (size_t i = 0; i < n; ++i) {
        if (snippet[i] != k[0] || (i > 0 && IsFirstHalf((unsigned char)snippet[i - 1]))) continue;
        hit[i] = 1;
        any = true;
      }
      continue;
    }
    for (size_t i = 0; i + m <= n;) {
      if (snippet.compare(i, m, k) != 0) {
        ++i;
        continue;
      }
      std::fill(hit.begin() + (std::ptrdiff_t)i, hit.begin() + (std::ptrdiff_t)(i + m), 1);
      any = true;
      i += m - 1;
    }
  }
  if (!any) return {};

  // Characters as the cell shows them: a character is marked when any of its
  // bytes is (a match may begin on the second byte of a two-byte character).
  std::vector<std::pair<int, int>> out;
  QString shown;
  for (size_t b = 0; b < n;) {
    const size_t len = IsLead((unsigned char)snippet[b]) && b + 1 < n ? 2 : 1;
    const QString piece = QString::fromStdString(SjisToUtf8(std::string_view(snippet).substr(b, len), 0));
    const bool marked = std::any_of(hit.begin() + (std::ptrdiff_t)b,
                                    hit.begin() + (std::ptrdiff_t)(b + len), [](char c) { return c; });
    if (marked && !piece.isEmpty()) {
      if (!out.empty() && out.back().first + out.back().second == shown.size()) {
        out.back().second += (int)piece.size();
      } else {
        out.emplace_back((int)shown.size(), (int)piece.size());
      }
    }
    shown += piece;
    b += len;
  }
  // Should the decoder read some bytes otherwise than one character at a
  // time, marks would land beside the words: better none.
  if (shown != QString::fromStdString(SjisToUtf8(snippet, 0))) return {};
  return out;
}

void HitDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const {
  const auto* model = qobject_cast<const ResultModel*>(index.model());
  if (!model || index.column() != ResultModel::kSnippet || keywords_.empty() ||
      index.row() >= model->Count()) {
    QStyledItemDelegate::paint(painter, option, index);
    return;
  }
  const std::vector<std::pair<int, int>> ranges = HitRanges(model->Row(index.row()).snippet, keywords_);
  if (ranges.empty()) {
    QStyledItemDelegate::paint(painter, option, index);
    return;
  }
  QStyleOptionViewItem opt = option;
  initStyleOption(&opt, index);
  const QString text = opt.text;
  opt.text.clear();
  QStyle* style = opt.widget ? opt.widget->style() : QApplication::style();
  style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);

  const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, opt.widget) + 1;
  const QRect rect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, opt.widget)
                         .adjusted(margin, 0, -margin, 0);
  QTextLayout layout(text, opt.font);
  QTextOption textOption;
  textOption.setWrapMode(QTextOption::NoWrap);
  layout.setTextOption(textOption);
  QList<QTextLayout::FormatRange> formats;
  for (const auto& [start, length] : ranges) {
    QTextLayout::FormatRange f;
    f.start = start;
    f.length = length;
    f.format.setFontWeight(QFont::Bold);
    f.format.setForeground(QColor(0x10, 0x10, 0x10));
    f.format.setBackground(QColor(0xFF, 0xD8, 0x4D));
    formats << f;
  }
  layout.setFormats(formats);
  layout.beginLayout();
  QTextLine line = layout.createLine();
  if (!line.isValid()) {
    layout.endLayout();
    return;
  }
  line.setLeadingIncluded(false);
  layout.endLayout();

  const bool selected = opt.state & QStyle::State_Selected;
  painter->save();
  painter->setClipRect(rect);
  painter->setPen(opt.palette.color(opt.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled,
                                    selected ? QPalette::HighlightedText : QPalette::Text));
  const qreal y = rect.top() + (rect.height() - line.height()) / 2.0;
  // Cut off as the plain cells are: an ellipsis where the text goes on.
  const QString ellipsis(QChar(0x2026));
  const int ellipsisWidth = opt.fontMetrics.horizontalAdvance(ellipsis);
  const bool cut = line.naturalTextWidth() > rect.width();
  if (cut) painter->setClipRect(rect.adjusted(0, 0, -ellipsisWidth, 0));
  layout.draw(painter, QPointF(rect.left(), y));
  if (cut) {
    painter->setClipRect(rect);
    painter->drawText(QRect(rect.right() - ellipsisWidth, rect.top(), ellipsisWidth + 1, rect.height()),
                      Qt::AlignLeft | Qt::AlignVCenter, ellipsis);
  }
  painter->restore();
}

}  // namespace kuribo
