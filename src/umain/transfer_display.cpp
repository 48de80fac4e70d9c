#include "umain/transfer_display.h"

#include <algorithm>

namespace UMain {

namespace {

constexpr uint64_t kFrameMs = 40;

// q hundredths, in the shortest form: no trailing zeros, no separator for whole numbers.
std::string Hundredths(int64_t q, char separator) {
  std::string text = std::to_string(q / 100);
  int64_t fraction = q % 100;
  if (fraction != 0) {
    text += separator;
    text += static_cast<char>('0' + fraction / 10);
    if (fraction % 10 != 0) text += static_cast<char>('0' + fraction % 10);
  }
  return text;
}

}  // namespace

std::string FormatByteCount(int32_t n, char decimalSeparator) {
  if (n < 1000) return std::to_string(n) + " 字节";
  // Truncated to two decimals without rounding; exact in integers.
  const int64_t bytes = n;
  if (bytes * 100 / 1024 < 100000) return Hundredths(bytes * 100 / 1024, decimalSeparator) + " KB";
  return Hundredths(bytes * 100 / 1048576, decimalSeparator) + " MB";
}

// The bar keeps its position within its maximum, as the control does.
void TransferDisplay::maxChanged() {
  barPos_ = std::clamp(barPos_, 0, std::max(max_, 0));
  paintFrameWhenDue();
}

void TransferDisplay::positionChanged() {
  barPos_ = std::clamp(pos_, 0, std::max(max_, 0));
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
  barPos_ = 0;
  shown_ = true;
  window_.setProgressPos(ui::ControlId::PB_Curr, 0);
  window_.setProgressMax(ui::ControlId::PB_Curr, 0);
  showText();
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
  showText();
}

void TransferDisplay::showText() {
  const char separator = platform_.decimalSeparator();
  window_.setText(ui::ControlId::Label4, "已下载:" + FormatByteCount(pos_, separator) + "  共 " +
                                             FormatByteCount(max_, separator));
}

}  // namespace UMain
