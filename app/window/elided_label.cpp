#include "app/window/elided_label.h"

#include <QFontMetrics>

namespace kuribo {

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::PlainText);
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidedLabel::SetFullText(const QString& text) {
  full_ = text;
  setToolTip(text);
  Elide();
}

QSize ElidedLabel::minimumSizeHint() const { return {0, QLabel::minimumSizeHint().height()}; }

QSize ElidedLabel::sizeHint() const { return {0, QLabel::sizeHint().height()}; }

void ElidedLabel::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  Elide();
}

void ElidedLabel::Elide() {
  const QString shown = fontMetrics().elidedText(full_, Qt::ElideMiddle, std::max(contentsRect().width(), 0));
  if (shown != text()) setText(shown);
}

}  // namespace kuribo
