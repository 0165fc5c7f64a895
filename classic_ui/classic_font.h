#pragma once
// The font of the programs' fixed layouts. Every caption was sized for
// 8.25-point MS Sans Serif; Debian's fonts-wine carries that face as bitmap
// strikes (crisp at 100 %, but not scalable) and a metric-compatible scalable
// Tahoma. The first call loads both files into the application's font
// database; where a file is missing, a sans-serif of Arial's metrics stands
// in and long captions may then need more room than they have.
//
// Needs a QGuiApplication; GUI thread only.

#include <QFont>
#include <QString>

namespace classic_ui {

// Where Debian installs the faces.
inline constexpr char kBitmapSansPath[] = "/usr/share/wine/fonts/ms_sans_serif.ttf";
inline constexpr char kScalableSansPath[] = "/usr/share/wine/fonts/tahoma.ttf";

// The face in use: the bitmap MS Sans Serif when every screen shows one device
// pixel per logical pixel, Tahoma (narrowed to MS Sans Serif's widths) when a
// screen is scaled, otherwise empty for the stand-in. Chosen once per process.
QString WindowFontFamily();

// The window font at 8.25 points, regular or bold. Bold is always the
// scalable face, emboldened: the bitmap strikes have no bold.
QFont WindowFont(bool bold = false);

}  // namespace classic_ui
