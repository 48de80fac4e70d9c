// The current transfer's bar (PB_Curr) and byte line (Label4) on the window.
// Progress events come every 32 KiB, tens of thousands of times a second on a
// fast network, and a release may hold thousands of small files; a person
// sees a few dozen frames a second. The display therefore takes every change
// of the figures and paints them at most once per frame, and at once where a
// blocking step or the next file would otherwise leave them unshown.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "ui/window.h"

namespace UMain {

// A byte count as the byte line shows it: "999 字节", "1.5 KB", "0.97 MB".
std::string FormatByteCount(int32_t n, char decimalSeparator = '.');

class TransferDisplay {
 public:
  // max and pos are the transfer's figures as their owner keeps them.
  TransferDisplay(platform::Platform& platform, ui::Window& window, const int32_t& max,
                  const int32_t& pos)
      : platform_(platform), window_(window), max_(max), pos_(pos) {}

  // The transfer's maximum or position has changed: on the controls and
  // painted when a frame is due (the window's messages are processed with
  // each frame).
  void maxChanged();
  void positionChanged();
  // A new transfer (its figures 0 of 0): on the controls at once, painted
  // with the next repaint (the status line that names the next file).
  void reset();
  // Paints the figures that the last frame left unshown; nothing when all is
  // on the screen.
  void showNow();
  // One frame: pending figures on the controls, the window painted and its
  // messages processed.
  void paintFrame();
  // Pending figures on the controls, without painting.
  void showPending();
  // The byte line for the figures: "已下载:<pos>  共 <max>".
  void showText();

 private:
  void paintFrameWhenDue();

  platform::Platform& platform_;
  ui::Window& window_;
  const int32_t& max_;
  const int32_t& pos_;
  int32_t barPos_ = 0;  // PB_Curr's position as the control holds it
  bool shown_ = true;
  uint64_t frameShownAt_ = 0;
};

}  // namespace UMain
