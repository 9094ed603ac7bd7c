#include <QApplication>

#include "app/window/form1.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kuribo"));
  QApplication::setApplicationDisplayName(QString::fromUtf8("栗坊"));
  kuribo::TForm1 form;
  form.show();
  return app.exec();
}
