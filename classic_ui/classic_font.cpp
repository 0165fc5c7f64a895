#include "classic_ui/classic_font.h"

#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>

namespace classic_ui {
namespace {

// Adds the file's faces to the application's font database; returns the
// family of its first face, or an empty text when the file is missing or no
// font.
QString LoadFontFile(const char* path) {
  const QString file = QString::fromLatin1(path);
  if (!QFile::exists(file)) return {};
  const int id = QFontDatabase::addApplicationFont(file);
  if (id < 0) return {};
  const QStringList families = QFontDatabase::applicationFontFamilies(id);
  return families.isEmpty() ? QString() : families.first();
}

// A family with the stretch it is used at; an empty family is the stand-in.
struct Face {
  QString family;
  int stretch = QFont::Unstretched;
};

struct Faces {
  Face regular;
  Face bold;
};

Faces ChooseFaces() {
  // At 95 % of its width Tahoma's texts are no wider than MS Sans Serif's
  // (unstretched, its lower case runs 3 to 5 % wider). Its bold is drawn by
  // emboldening the regular outlines, as the classic toolkit made MS Sans
  // Serif bold; the bold file of fonts-wine draws regular strokes at bold
  // widths, so it is not loaded.
  const QString scalable = LoadFontFile(kScalableSansPath);
  const Face tahoma = scalable.isEmpty() ? Face{} : Face{scalable, 95};
  // A bitmap strike would be stretched (blurred) or drawn too small on a
  // scaled screen, and it has no bold: those take the outline face.
  if (qGuiApp->devicePixelRatio() == 1.0) {
    const QString bitmap = LoadFontFile(kBitmapSansPath);
    if (!bitmap.isEmpty()) return {Face{bitmap}, tahoma};
  }
  return {tahoma, tahoma};
}

const Faces& ChosenFaces() {
  static const Faces faces = ChooseFaces();
  return faces;
}

}  // namespace

QString WindowFontFamily() { return ChosenFaces().regular.family; }

QFont WindowFont(bool bold) {
  QFont font;
  const Face& face = bold ? ChosenFaces().bold : ChosenFaces().regular;
  if (face.family.isEmpty()) {
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
  } else {
    font.setFamilies({face.family, QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
  }
  font.setStretch(face.stretch);
  font.setStyleHint(QFont::SansSerif);
  font.setPointSizeF(8.25);
  font.setWeight(bold ? QFont::Bold : QFont::Normal);
  return font;
}

}  // namespace classic_ui
