#include "brellow/program_info.h"

#include <QCoreApplication>
#include <QStringList>
#include <QVariant>

#include "suite_version.h"

namespace brellow {
namespace {

int VersionPart(const QStringList& parts, int position) {
  if (position >= parts.size()) return 0;
  bool ok = false;
  const int value = parts[position].toInt(&ok);
  return ok ? value : 0;
}

}  // namespace

void RegisterProgramInfo() {
  QCoreApplication::setApplicationName(QString::fromLatin1(kProgramName));
  QCoreApplication::setApplicationVersion(QStringLiteral(SUITE_VERSION_TEXT));
  QCoreApplication::instance()->setProperty("applicationDescription",
                                            QString::fromLatin1(kProgramDescription));
}

ProgramVersion ReadProgramVersion() {
  const QStringList parts = QCoreApplication::applicationVersion().split(QLatin1Char('.'));
  return ProgramVersion{VersionPart(parts, 0), VersionPart(parts, 1), VersionPart(parts, 3)};
}

QString ProgramVersionText() {
  const ProgramVersion version = ReadProgramVersion();
  return QStringLiteral("%1.%2.%3").arg(version.major).arg(version.minor).arg(version.revision);
}

}  // namespace brellow
