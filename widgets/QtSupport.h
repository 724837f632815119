#pragma once

// Conversions between our types and Qt's, for widgets/ only.

#include <QColor>
#include <QFont>
#include <QString>
#include <string>

#include "imaging/Graphics.h"
#include "widgets/Classes.h"
#include "widgets/Controls.h"

namespace vmk {

inline QString ToQ(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
inline std::string FromQ(const QString& s) { return s.toUtf8().toStdString(); }
inline QColor ToQColor(TColor c) { return QColor(GetRValue(c), GetGValue(c), GetBValue(c)); }
inline TColor FromQColor(const QColor& c) {
    return RGBColor(static_cast<uint8_t>(c.red()), static_cast<uint8_t>(c.green()), static_cast<uint8_t>(c.blue()));
}
// The caption as Qt shows it: "\r\n" becomes one line break.
QString CaptionToQ(const std::string& caption);
// The requested face, or the nearest sans-serif face the system has.
QFont ToQFont(const TFont& font);
TShiftState ShiftFromQt(unsigned modifiers, unsigned buttons);

}  // namespace vmk
