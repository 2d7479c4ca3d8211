#pragma once

#include <QImage>
#include <QWidget>

#include <string>

#include "engine/dialogs/dialog_support.h"

namespace orv {

// A progress bar filled with a vertical gradient from Color1 (top) to Color2 (bottom), with a
// caption centred over it. Min stays below Max, so the filled share is always defined.
class TOrvGauge : public QWidget {
 public:
  static constexpr int kDefaultWidth = 200;
  static constexpr int kDefaultHeight = 40;

  explicit TOrvGauge(QWidget* parent = nullptr);

  TColor Backcolor() const { return backcolor_; }
  void SetBackcolor(TColor value);
  TColor Color1() const { return color1_; }
  void SetColor1(TColor value);
  TColor Color2() const { return color2_; }
  void SetColor2(TColor value);
  int Min() const { return min_; }
  // Ignored unless below Max; raises Progress to the new Min when needed.
  void SetMin(int value);
  int Max() const { return max_; }
  // Ignored unless above Min; lowers Progress to the new Max when needed.
  void SetMax(int value);
  int Progress() const { return progress_; }
  // Ignored when unchanged or outside Min..Max; sets the caption to "Progress/Max".
  void SetProgress(int value);
  // 8-bit text (code page 1251).
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& value);
  bool Autocaption() const { return autocaption_; }
  void SetAutocaption(bool value);

  // The filled share, 0 to 100, rounded half to even.
  int Percent() const;
  // The width in pixels of the gradient part: (width - 3) * Percent div 100.
  int FilledWidth() const;
  // Width by height - 5; empty when the control is too small for it.
  const QImage& GradientBitmap() const;

  // Paints the control now when it is visible.
  void Paint();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  static QSize GradientSize(const QSize& control);
  void BuildGradient() const;
  void SetGradientColor(TColor& color, TColor value);
  void RebuildCaption();

  TColor backcolor_ = kColorWhite;
  TColor color1_ = kColorWhite;
  TColor color2_ = kColorYellow;
  int min_ = 1;
  int max_ = 100;
  int progress_ = 1;
  std::string caption_ = "OrvGauge";
  bool autocaption_ = false;
  bool caption_rebuild_pending_ = false;
  // Rebuilt on use when the control was resized: a hidden widget gets no resize events.
  mutable QImage gradient_;
};

}  // namespace orv
