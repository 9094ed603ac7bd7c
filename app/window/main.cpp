#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QLabel label(QString::fromUtf8("栗坊: the search window is still being built; use kuribo-search meanwhile."));
  label.setWindowTitle(QString::fromUtf8("栗坊"));
  label.resize(600, 120);
  label.show();
  return app.exec();
}
