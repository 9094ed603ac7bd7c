// A one-line label that never asks for more width than it gets: a long text
// is shown elided in the middle (the end of a path is what tells files apart)
// and whole in its tooltip.
#pragma once

#include <QLabel>

namespace kuribo {

class ElidedLabel : public QLabel {
 public:
  explicit ElidedLabel(QWidget* parent = nullptr);
  void SetFullText(const QString& text);
  QString FullText() const { return full_; }
  QSize minimumSizeHint() const override;
  QSize sizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Elide();
  QString full_;
};

}  // namespace kuribo
