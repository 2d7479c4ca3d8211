#include "engine/dialogs/orv_gauge.h"

#include <QPainter>
#include <QPen>

#include <cstdint>

#include <fmt/format.h>

namespace orv {

namespace {

constexpr int kGradientBands = 256;
constexpr int kFrameWidth = 2;

int Blend(int from, int to, int band) {
  return from + (to - from) * band / (kGradientBands - 1);
}

}  // namespace

TOrvGauge::TOrvGauge(QWidget* parent) : QWidget(parent) {
  resize(kDefaultWidth, kDefaultHeight);
  BuildGradient();
}

QSize TOrvGauge::GradientSize(const QSize& control) {
  const QSize size(control.width(), control.height() - 5);
  return size.width() > 0 && size.height() > 0 ? size : QSize(0, 0);
}

const QImage& TOrvGauge::GradientBitmap() const {
  if (gradient_.size() != GradientSize(size())) BuildGradient();
  return gradient_;
}

void TOrvGauge::BuildGradient() const {
  const QSize size = GradientSize(this->size());
  if (size.isEmpty()) {
    gradient_ = QImage();
    return;
  }
  const int w = size.width();
  const int h = size.height();
  gradient_ = QImage(w, h, QImage::Format_RGB32);
  QPainter painter(&gradient_);
  for (int band = 0; band < kGradientBands; ++band) {
    // Multiply first: dividing first would give every band of a low bitmap the same row.
    const int top = static_cast<int>(std::int64_t{band} * h / kGradientBands);
    const int bottom = static_cast<int>(std::int64_t{band + 1} * h / kGradientBands);
    if (bottom <= top) continue;
    const QColor color(Blend(RedOf(color1_), RedOf(color2_), band),
                       Blend(GreenOf(color1_), GreenOf(color2_), band),
                       Blend(BlueOf(color1_), BlueOf(color2_), band));
    painter.fillRect(0, top, w, bottom - top, color);
  }
}

int TOrvGauge::Percent() const {
  return RoundPercent((static_cast<double>(progress_) - min_) / (static_cast<double>(max_) - min_) *
                      100.0);
}

int TOrvGauge::FilledWidth() const {
  const int span = width() - 3;
  return span > 0 ? span * Percent() / 100 : 0;
}

void TOrvGauge::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const int w = width();
  const int h = height();
  painter.setPen(QPen(Qt::black, kFrameWidth, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(QRectF(1, 1, w - kFrameWidth, h - kFrameWidth));

  // The fill never covers the frame, even at 100 %, where (width - 3) is one column more than
  // the inside holds.
  const QRect inside(kFrameWidth, kFrameWidth, w - 2 * kFrameWidth, h - 2 * kFrameWidth);
  if (inside.isValid()) {
    painter.save();
    painter.setClipRect(inside);
    const int filled = FilledWidth();
    const QImage& gradient = GradientBitmap();
    if (filled > 0 && !gradient.isNull()) {
      painter.drawImage(QRect(kFrameWidth, kFrameWidth, filled, inside.height()), gradient);
    }
    if (Percent() < 100) {
      painter.fillRect(
          QRect(kFrameWidth + filled, kFrameWidth, inside.width() - filled, inside.height()),
          ToQColor(backcolor_));
    }
    painter.restore();
  }

  painter.setPen(Qt::black);
  painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, QStringFromCp1251(caption_));
}

void TOrvGauge::Paint() {
  if (isVisible()) repaint();
}

void TOrvGauge::SetBackcolor(TColor value) {
  if (value == backcolor_) return;
  backcolor_ = value;
  update();
}

void TOrvGauge::SetColor1(TColor value) {
  SetGradientColor(color1_, value);
}

void TOrvGauge::SetColor2(TColor value) {
  SetGradientColor(color2_, value);
}

void TOrvGauge::SetGradientColor(TColor& color, TColor value) {
  if (value == color) return;
  color = value;
  BuildGradient();
  update();
}

void TOrvGauge::SetMin(int value) {
  if (value == min_ || value >= max_) return;
  min_ = value;
  if (progress_ < min_) {
    progress_ = min_;
    if (autocaption_) RebuildCaption();
  }
  update();
}

void TOrvGauge::SetMax(int value) {
  if (value == max_ || value <= min_) return;
  max_ = value;
  if (progress_ > max_) progress_ = max_;
  if (autocaption_) RebuildCaption();
  update();
}

void TOrvGauge::SetProgress(int value) {
  if (!caption_rebuild_pending_ && (value == progress_ || value < min_ || value > max_)) return;
  progress_ = value;
  RebuildCaption();
  caption_rebuild_pending_ = false;
  Paint();
}

void TOrvGauge::RebuildCaption() {
  caption_ = fmt::format("{}/{}", progress_, max_);
}

void TOrvGauge::SetCaption(const std::string& value) {
  if (value == caption_) return;
  caption_ = value;
  Paint();
}

void TOrvGauge::SetAutocaption(bool value) {
  if (value == autocaption_) return;
  autocaption_ = value;
  if (autocaption_) {
    caption_rebuild_pending_ = true;
    SetProgress(progress_);
  }
  update();
}

}  // namespace orv
