// The update window's layout: one table that both window backends build from.
// Coordinates are client pixels at 96 dpi: left, top, width, height; children
// of a panel are placed relative to that panel.
#pragma once

#include <cstddef>

namespace ui {

enum class ControlId {
  Panel1,
  Image1,
  PLMsg,
  Label3,
  LBL_Updating,
  Label4,
  Label1,
  PB_Curr,
  Label2,
  PB_All,
  Form,  // the window itself, as a parent; also the number of controls
};

enum class ControlKind { Panel, Image, MessagePanel, Label, ProgressBar };

struct ControlSpec {
  ControlId id;
  const char* name;
  ControlKind kind;
  ControlId parent;
  int left, top, width, height;
  bool autoSize;     // labels whose width follows their text
  const char* text;  // initial text
};

inline constexpr ControlSpec kControls[] = {
    {ControlId::Panel1, "Panel1", ControlKind::Panel, ControlId::Form, 3, 2, 119, 233, false, ""},
    {ControlId::Image1, "Image1", ControlKind::Image, ControlId::Panel1, 2, 2, 115, 229, false, ""},
    {ControlId::PLMsg, "PLMsg", ControlKind::MessagePanel, ControlId::Form, 129, 11, 300, 33, false,
     ""},
    {ControlId::Label3, "Label3", ControlKind::Label, ControlId::Form, 131, 48, 0, 12, true, ""},
    {ControlId::LBL_Updating, "LBL_Updating", ControlKind::Label, ControlId::Form, 131, 69, 296, 12,
     false, ""},
    {ControlId::Label4, "Label4", ControlKind::Label, ControlId::Form, 131, 96, 0, 12, true, ""},
    {ControlId::Label1, "Label1", ControlKind::Label, ControlId::Form, 128, 128, 54, 12, false,
     "当前进度:"},
    {ControlId::PB_Curr, "PB_Curr", ControlKind::ProgressBar, ControlId::Form, 184, 126, 241, 16,
     false, ""},
    {ControlId::Label2, "Label2", ControlKind::Label, ControlId::Form, 128, 168, 54, 12, false,
     "整体进度:"},
    {ControlId::PB_All, "PB_All", ControlKind::ProgressBar, ControlId::Form, 184, 166, 241, 16,
     false, ""},
};

inline constexpr const ControlSpec& controlSpec(ControlId id) {
  return kControls[static_cast<size_t>(id)];
}

inline constexpr const char* kFormClassName = "TTFrmUpdate";
inline constexpr const char* kFormCaption = "Tarnel客户端自动升级";
inline constexpr int kFormClientWidth = 434;
inline constexpr int kFormClientHeight = 237;
// The window's font: "宋体", 12 pixels character height, GB2312 character set.
inline constexpr const char* kFormFontFace = "宋体";
inline constexpr int kFormFontHeight = 12;
// The message line's own font: bold, 13 pixels, default character set.
inline constexpr const char* kMessageFontFace = "MS Sans Serif";
inline constexpr int kMessageFontHeight = 13;
inline constexpr int kBannerWidth = 115;
inline constexpr int kBannerHeight = 229;
inline constexpr unsigned kTimerIntervalMs = 1000;
inline constexpr int kProgressInitialMax = 100;

}  // namespace ui
