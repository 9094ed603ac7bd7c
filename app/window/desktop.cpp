#include "app/window/desktop.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>
#include <QUrl>

namespace kuribo {
namespace {

// The desktop entry (e.g. "org.gnome.TextEditor.desktop") that opens a MIME
// type by default; empty when none is set or the lookup tool is missing.
QString DefaultDesktopEntry(const QString& mime) {
  QProcess p;
  p.start(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"), mime});
  if (!p.waitForStarted(2000)) return {};
  if (!p.waitForFinished(3000)) {
    p.kill();
    p.waitForFinished(1000);
    return {};
  }
  if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) return {};
  return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

// Starts the Exec line of a desktop entry with `path` as its file argument.
bool LaunchDesktopEntry(const QString& entry, const QString& path) {
  const QString file = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, entry);
  QFile f(file);
  if (file.isEmpty() || !f.open(QIODevice::ReadOnly | QIODevice::Text)) return false;
  QString exec;
  bool inEntry = false;
  QTextStream in(&f);
  while (!in.atEnd()) {
    const QString line = in.readLine().trimmed();
    if (line.startsWith(QLatin1Char('['))) {
      inEntry = line == QLatin1String("[Desktop Entry]");
    } else if (inEntry && line.startsWith(QLatin1String("Exec="))) {
      exec = line.mid(5);
      break;
    }
  }
  QStringList out = ExecArguments(exec, path);
  if (out.isEmpty()) return false;
  const QString program = out.takeFirst();
  // The file is one argument of its own, never part of a shell line.
  return QProcess::startDetached(program, out);
}

}  // namespace

QStringList ExecArguments(const QString& exec, const QString& path) {
  const QStringList args = QProcess::splitCommand(exec);
  QStringList out;
  bool placed = false;
  for (const QString& a : args) {
    if (a == QLatin1String("%f") || a == QLatin1String("%F")) {
      out << path;
      placed = true;
    } else if (a == QLatin1String("%u") || a == QLatin1String("%U")) {
      // Programs taking URLs expect them percent-encoded.
      out << QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
      placed = true;
    } else if (a.size() == 2 && a[0] == QLatin1Char('%')) {
      continue;  // %i, %c, %k and the like carry nothing we need
    } else {
      out << a;
    }
  }
  if (out.isEmpty()) return {};
  if (!placed) out << path;
  return out;
}

bool OpenWithAssociatedProgram(const QString& path) {
  const QString mime = QMimeDatabase().mimeTypeForFile(path).name();
  if (!DefaultDesktopEntry(mime).isEmpty()) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
  }
  const QString text = DefaultDesktopEntry(QStringLiteral("text/plain"));
  if (!text.isEmpty() && LaunchDesktopEntry(text, path)) return true;
  // No lookup answered: let the desktop decide.
  return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

QString ChooseDataDirectory(const QString& programDir, bool portable) {
  QFileInfo info(programDir);
  if (portable && info.isDir() && info.isWritable()) return programDir;
  QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + QStringLiteral("/.config");
  const QString dir = base + QStringLiteral("/kuribo/");
  QDir().mkpath(dir);
  return dir;
}

}  // namespace kuribo
