#pragma once

#include <QColor>
#include <QString>

#include <cstdint>
#include <string>
#include <string_view>

namespace orv {

// A colour as 0x00BBGGRR: red in the low byte. The high byte is ignored.
using TColor = std::uint32_t;

inline constexpr TColor kColorBlack = 0x000000;
inline constexpr TColor kColorWhite = 0xFFFFFF;
inline constexpr TColor kColorYellow = 0x00FFFF;
inline constexpr TColor kColorBlue = 0xFF0000;

inline int RedOf(TColor color) {
  return static_cast<int>(color & 0xFF);
}
inline int GreenOf(TColor color) {
  return static_cast<int>((color >> 8) & 0xFF);
}
inline int BlueOf(TColor color) {
  return static_cast<int>((color >> 16) & 0xFF);
}
inline TColor MakeColor(int red, int green, int blue) {
  return static_cast<TColor>(red) | static_cast<TColor>(green) << 8 |
         static_cast<TColor>(blue) << 16;
}

inline QColor ToQColor(TColor color) {
  return QColor(RedOf(color), GreenOf(color), BlueOf(color));
}
inline TColor FromQColor(const QColor& color) {
  return MakeColor(color.red(), color.green(), color.blue());
}

// A share in percent rounded half to even, as the runtime rounds; NaN and values outside 0..100
// are clamped, so any caller's report is safe to show.
int RoundPercent(double percent);

QString QStringFromCp1251(std::string_view text);
std::string Cp1251FromQString(const QString& text);
// Whether text holds only characters that code page 1251 can store.
bool FitsCp1251(const QString& text);

// Widgets can be made only in a widget application and on its thread; the dialogs do nothing
// elsewhere rather than abort the process.
bool GuiAvailable();

}  // namespace orv
