#include "umain/transfer_display.h"

#include <algorithm>

#include "umain/umain.h"

namespace UMain {

namespace {

constexpr uint64_t kFrameMs = 40;

}  // namespace

// The bar keeps its position within its maximum, as the control does.
void TransferDisplay::setMax(int32_t max) {
  max_ = max;
  barPos_ = std::clamp(barPos_, 0, std::max(max, 0));
  paintFrameWhenDue();
}

void TransferDisplay::setPosition(int32_t pos) {
  pos_ = pos;
  barPos_ = std::clamp(pos, 0, std::max(max_, 0));
  paintFrameWhenDue();
}

void TransferDisplay::paintFrameWhenDue() {
  shown_ = false;
  const uint64_t now = platform_.milliseconds();
  if (now - frameShownAt_ < kFrameMs) return;
  frameShownAt_ = now;
  paintFrame();
}

void TransferDisplay::reset() {
  max_ = pos_ = barPos_ = 0;
  shown_ = true;
  window_.setProgressPos(ui::ControlId::PB_Curr, 0);
  window_.setProgressMax(ui::ControlId::PB_Curr, 0);
  showText(0, 0);
}

void TransferDisplay::showNow() {
  if (shown_) return;
  showPending();
  window_.repaintNow();
}

void TransferDisplay::paintFrame() {
  showPending();
  window_.repaintNow();
  window_.processMessages();
}

void TransferDisplay::showPending() {
  if (shown_) return;
  shown_ = true;
  window_.setProgressMax(ui::ControlId::PB_Curr, max_);
  window_.setProgressPos(ui::ControlId::PB_Curr, barPos_);
  showText(max_, pos_);
}

void TransferDisplay::showText(int32_t max, int32_t pos) {
  const char separator = platform_.decimalSeparator();
  window_.setText(ui::ControlId::Label4, "已下载:" + FormatByteCount(pos, separator) + "  共 " +
                                             FormatByteCount(max, separator));
}

}  // namespace UMain
