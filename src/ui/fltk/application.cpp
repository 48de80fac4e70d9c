// The update window on FLTK, for the native Linux build.
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/fl_ask.H>
#include <FL/fl_draw.H>
#include <fontconfig/fontconfig.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "banner_bmp.h"
#include "ui/fltk/trace.h"
#include "ui/window.h"

namespace ui {
namespace {

constexpr Fl_Font kTextFont = FL_FREE_FONT;
constexpr Fl_Font kBoldFont = FL_FREE_FONT + 1;
constexpr size_t kControlCount = static_cast<size_t>(ControlId::Form);

// FLTK draws no glyph it cannot find in the chosen font, so ask fontconfig
// for a family that covers Simplified Chinese.
void chooseFonts() {
  std::string family = "sans";
  if (FcInit()) {
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("sans:lang=zh-cn"));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result;
    if (FcPattern* match = FcFontMatch(nullptr, pattern, &result)) {
      FcChar8* name = nullptr;
      if (FcPatternGetString(match, FC_FAMILY, 0, &name) == FcResultMatch) {
        family = reinterpret_cast<const char*>(name);
      }
      FcPatternDestroy(match);
    }
    FcPatternDestroy(pattern);
  }
  // FLTK's Xft names carry the style in their first character.
  static std::string regular, bold;
  regular = " " + family;
  bold = "B" + family;
  Fl::set_font(kTextFont, regular.c_str());
  Fl::set_font(kBoldFont, bold.c_str());
}

// The banner bitmap (24-bit, bottom-up rows) as an RGB image; the caller owns it
// (a box shows an image but never deletes it).
std::unique_ptr<Fl_RGB_Image> loadBanner() {
  static std::vector<unsigned char> rgb;
  const unsigned char* bmp = kBannerBmp;
  auto u32 = [&](size_t at) {
    return uint32_t(bmp[at]) | uint32_t(bmp[at + 1]) << 8 | uint32_t(bmp[at + 2]) << 16 |
           uint32_t(bmp[at + 3]) << 24;
  };
  const uint32_t offset = u32(10), w = u32(18), h = u32(22);
  const uint32_t stride = (w * 3 + 3) & ~3u;
  if (w != kBannerWidth || h != kBannerHeight || offset + stride * h > sizeof kBannerBmp)
    return nullptr;
  rgb.resize(size_t(w) * h * 3);
  for (uint32_t y = 0; y < h; ++y) {
    const unsigned char* row = bmp + offset + size_t(h - 1 - y) * stride;
    for (uint32_t x = 0; x < w; ++x) {
      unsigned char* out = &rgb[(size_t(y) * w + x) * 3];
      out[0] = row[x * 3 + 2];
      out[1] = row[x * 3 + 1];
      out[2] = row[x * 3];
    }
  }
  return std::make_unique<Fl_RGB_Image>(rgb.data(), int(w), int(h), 3);
}

// A panel with the classic one-pixel bevels: an outer and an optional inner one.
class BevelBox : public Fl_Box {
 public:
  enum Bevel { Flat, Raised, Lowered };
  BevelBox(int x, int y, int w, int h, Bevel outer, Bevel inner)
      : Fl_Box(x, y, w, h), outer_(outer), inner_(inner) {
    box(FL_FLAT_BOX);
  }

 protected:
  void draw() override {
    fl_rectf(x(), y(), w(), h(), color());
    bevel(x(), y(), w(), h(), outer_);
    if (inner_ != Flat) bevel(x() + 1, y() + 1, w() - 2, h() - 2, inner_);
    draw_label();
  }

 private:
  static void bevel(int x, int y, int w, int h, Bevel kind) {
    if (kind == Flat) return;
    const Fl_Color light = FL_WHITE, dark = fl_rgb_color(128, 128, 128);
    fl_color(kind == Raised ? light : dark);
    fl_xyline(x, y, x + w - 1);
    fl_yxline(x, y, y + h - 1);
    fl_color(kind == Raised ? dark : light);
    fl_xyline(x, y + h - 1, x + w - 1);
    fl_yxline(x + w - 1, y, y + h - 1);
  }
  Bevel outer_, inner_;
};

// A control that records its text in the trace when it draws it on the
// screen and it differs from what it drew last: the trace then holds what a
// person saw, not merely what was set.
class DrawnText {
 public:
  DrawnText(Trace& trace, const char* name) : trace_(trace), name_(name) {}
  void drew(const std::string& text) {
    if (drawn_ == text) return;
    drawn_ = text;
    trace_.line({"text", name_, drawn_});
  }

 private:
  Trace& trace_;
  const char* name_;
  std::string drawn_;
};

// The message line: a bevelled panel with its text centred, drawn by FLTK's
// own label layout (it changes once or twice a run).
class MessagePanel : public BevelBox {
 public:
  MessagePanel(Trace& trace, const char* name, int x, int y, int w, int h)
      : BevelBox(x, y, w, h, BevelBox::Raised, BevelBox::Lowered), drawn_(trace, name) {}

 protected:
  void draw() override {
    BevelBox::draw();
    drawn_.drew(label() ? label() : "");
  }

 private:
  DrawnText drawn_;
};

// A label as the classic static control draws it: one line from its top
// left, clipped to the control, on the window's face colour; a single "&"
// marks a mnemonic and is not shown ("&&" shows one "&"). It paints its own
// background, so a new text repaints this control alone, and it draws the
// text straight, without FLTK's general label layout: the status line and the
// byte line change for every file of a release.
class Label : public Fl_Widget {
 public:
  Label(Trace& trace, const char* name, int x, int y, int w, int h)
      : Fl_Widget(x, y, w, h), drawn_(trace, name) {
    box(FL_FLAT_BOX);
    labelfont(kTextFont);
    labelsize(kFormFontHeight);
  }

  void text(const std::string& text) {
    text_ = text;
    shown_.clear();
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] != '&') {
        shown_ += text[i];
      } else if (i + 1 < text.size() && text[i + 1] == '&') {
        shown_ += text[++i];
      }
    }
    redraw();
  }

 protected:
  void draw() override {
    fl_color(color());
    fl_rectf(x(), y(), w(), h());
    fl_push_clip(x(), y(), w(), h());
    fl_font(labelfont(), labelsize());
    fl_color(labelcolor());
    fl_draw(shown_.data(), static_cast<int>(shown_.size()), x(), y() + fl_height() - fl_descent());
    fl_pop_clip();
    drawn_.drew(text_);
  }

 private:
  DrawnText drawn_;
  std::string text_;
  std::string shown_;
};

// The classic progress bar: a thin sunken frame filled from the left in the
// selection colour by position / maximum (empty while the maximum is 0).
class ProgressBar : public Fl_Widget {
 public:
  ProgressBar(int x, int y, int w, int h) : Fl_Widget(x, y, w, h) {
    box(FL_THIN_DOWN_BOX);
    color(FL_BACKGROUND_COLOR);
    selection_color(fl_rgb_color(0, 0, 128));
  }

  void show(int32_t pos, int32_t max) {
    pos_ = pos;
    max_ = max;
    redraw();
  }

 protected:
  void draw() override {
    draw_box();
    const int inner = w() - 2 * Fl::box_dx(box());
    const int filled = max_ > 0 ? static_cast<int>(int64_t{inner} * pos_ / max_) : 0;
    if (filled > 0) {
      fl_color(selection_color());
      fl_rectf(x() + Fl::box_dx(box()), y() + Fl::box_dy(box()), filled,
               h() - 2 * Fl::box_dy(box()));
    }
  }

 private:
  int32_t pos_ = 0;
  int32_t max_ = 0;
};

class FltkApplication : public Application {
 public:
  explicit FltkApplication(std::string title) : title_(std::move(title)) {}

  int run(FormEvents& form) override {
    form_ = &form;
    Fl::lock();  // sets up the wake-up channel that requestEnd() uses
    Fl::scheme("base");
    Fl::get_system_colors();
    Fl::background(212, 208, 200);
    chooseFonts();
    build();
    runHandler(*this, title_, [&] { form.FormCreate(); });

    window_->position((Fl::w() - window_->w()) / 2, (Fl::h() - window_->h()) / 2);
    window_->show();
    window_->wait_for_expose();
    Fl::flush();
    traceLayout();
    runHandler(*this, title_, [&] { form.FormShow(); });

    while (!endRequested_ && Fl::first_window()) Fl::wait();
    setTimerEnabled(false);
    window_->hide();
    Fl::flush();
    trace_.line({"end"});
    return 0;
  }

  std::string caption() override { return window_->label(); }

  void setText(ControlId id, const std::string& text) override {
    Control& c = control(id);
    if (c.text == text) return;  // nothing to repaint
    c.text = text;
    if (controlSpec(id).kind == ControlKind::Label) {
      static_cast<Label*>(c.widget)->text(text);
    } else {
      c.widget->copy_label(text.c_str());
      c.widget->redraw();
    }
    trace_.line({"set", controlSpec(id).name, text});
  }

  void setProgressMax(ControlId id, int32_t max) override {
    Control& c = control(id);
    if (c.max == max) return;  // the position, kept within it, stays as well
    c.max = max;
    c.pos = std::min(std::max(c.pos, 0), std::max(max, 0));
    showProgress(c, id);
  }

  int32_t progressMax(ControlId id) override { return control(id).max; }

  void setProgressPos(ControlId id, int32_t pos) override {
    Control& c = control(id);
    pos = std::min(std::max(pos, 0), std::max(c.max, 0));
    if (c.pos == pos) return;
    c.pos = pos;
    showProgress(c, id);
  }

  void stepProgress(ControlId id) override {
    // Like the classic bar: a step past the maximum starts over from the minimum.
    Control& c = control(id);
    int32_t next = c.pos + 1;
    setProgressPos(id, next > c.max ? next - c.max : next);
  }

  void repaintNow() override { Fl::flush(); }

  void processMessages() override { Fl::check(); }

  void messageBox(const std::string& text, const std::string& caption, Icon icon) override {
    trace_.line({"box", iconName(icon), caption, text});
    fl_message_title(caption.c_str());
    fl_close = "OK";
    Fl_Widget* symbol = fl_message_icon();
    symbol->labelfont(FL_HELVETICA_BOLD);
    switch (icon) {
      case Icon::Error:
        symbol->label("X");
        symbol->color(FL_RED);
        symbol->labelcolor(FL_WHITE);
        break;
      case Icon::Warning:
        symbol->label("!");
        symbol->color(FL_YELLOW);
        symbol->labelcolor(FL_BLACK);
        break;
      case Icon::Information:
        symbol->label("i");
        symbol->color(FL_BLUE);
        symbol->labelcolor(FL_WHITE);
        break;
    }
    fl_message_font(kTextFont, 12);
    fl_message("%s", text.c_str());
    trace_.line({"box-closed"});
  }

  void setTimerEnabled(bool enabled) override {
    Fl::remove_timeout(&FltkApplication::onTimer, this);
    if (enabled) Fl::add_timeout(kTimerIntervalMs / 1000.0, &FltkApplication::onTimer, this);
  }

  void hide() override {
    if (window_) window_->hide();
  }

  void requestEnd() override {
    endRequested_ = true;
    // The request may come from a timer callback inside Fl::wait(), which
    // would then go on waiting for an event that may never come; the wake-up
    // makes that wait return to the loop, which takes the request.
    Fl::awake();
  }

 private:
  struct Control {
    Fl_Widget* widget = nullptr;
    std::string text;
    int32_t max = kProgressInitialMax;
    int32_t pos = 0;
  };

  Control& control(ControlId id) { return controls_[static_cast<size_t>(id)]; }

  static const char* iconName(Icon icon) {
    switch (icon) {
      case Icon::Error:
        return "error";
      case Icon::Warning:
        return "warning";
      default:
        return "information";
    }
  }

  void build() {
    window_ = std::make_unique<Fl_Double_Window>(kFormClientWidth, kFormClientHeight, kFormCaption);
    window_->xclass(kFormClassName);
    window_->labelfont(kTextFont);
    window_->callback(&FltkApplication::onClose, this);
    for (const ControlSpec& spec : kControls) {
      int x = spec.left, y = spec.top;
      if (spec.parent != ControlId::Form) {
        const Fl_Widget* parent = control(spec.parent).widget;
        x += parent->x();
        y += parent->y();
      }
      Fl_Widget* w = nullptr;
      switch (spec.kind) {
        case ControlKind::Panel:
          w = new BevelBox(x, y, spec.width, spec.height, BevelBox::Lowered, BevelBox::Flat);
          break;
        case ControlKind::MessagePanel:
          w = new MessagePanel(trace_, spec.name, x, y, spec.width, spec.height);
          w->labelfont(kBoldFont);
          w->labelsize(kMessageFontHeight);
          w->align(FL_ALIGN_CENTER | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
          break;
        case ControlKind::Image: {
          auto* box = new Fl_Box(x, y, spec.width, spec.height);
          box->box(FL_NO_BOX);
          banner_ = loadBanner();
          box->image(banner_.get());
          w = box;
          break;
        }
        case ControlKind::Label:
          // A label that sizes itself to its text shows the same as one that
          // reaches the window's right edge, without measuring every text.
          w = new Label(trace_, spec.name, x, y, spec.autoSize ? kFormClientWidth - x : spec.width,
                        spec.height);
          break;
        case ControlKind::ProgressBar:
          w = new ProgressBar(x, y, spec.width, spec.height);
          break;
      }
      control(spec.id).widget = w;
      if (spec.kind == ControlKind::ProgressBar) {
        showProgress(control(spec.id), spec.id, false);
      } else if (spec.kind == ControlKind::Label) {
        control(spec.id).text = spec.text;
        static_cast<Label*>(w)->text(spec.text);
      } else {
        control(spec.id).text = spec.text;
        w->copy_label(spec.text);
      }
    }
    window_->end();
    // A fixed-size dialog: neither the user nor the window manager resizes it.
    window_->size_range(kFormClientWidth, kFormClientHeight, kFormClientWidth, kFormClientHeight);
  }

  void showProgress(Control& c, ControlId id, bool traced = true) {
    static_cast<ProgressBar*>(c.widget)->show(c.pos, c.max);
    if (traced)
      trace_.line({"progress", controlSpec(id).name, std::to_string(c.pos), std::to_string(c.max)});
  }

  void traceLayout() {
    if (!trace_.enabled()) return;
    trace_.line({"window", window_->label(), std::to_string(window_->x()),
                 std::to_string(window_->y()), std::to_string(window_->w()),
                 std::to_string(window_->h()), std::to_string(Fl::w()), std::to_string(Fl::h())});
    for (const ControlSpec& spec : kControls) {
      const Fl_Widget* w = control(spec.id).widget;
      int x = w->x(), y = w->y();
      if (spec.parent != ControlId::Form) {
        x -= control(spec.parent).widget->x();
        y -= control(spec.parent).widget->y();
      }
      const bool bar = spec.kind == ControlKind::ProgressBar;
      const Control& c = control(spec.id);
      trace_.line({"control", spec.name, std::to_string(x), std::to_string(y),
                   std::to_string(w->w()), std::to_string(w->h()), std::to_string(bar ? c.pos : -1),
                   std::to_string(bar ? c.max : -1), c.text});
    }
  }

  static void onTimer(void* self) {
    auto* app = static_cast<FltkApplication*>(self);
    Fl::repeat_timeout(kTimerIntervalMs / 1000.0, &FltkApplication::onTimer, self);
    runHandler(*app, app->title_, [app] { app->form_->Timer1Timer(); });
  }

  // The close box, the window manager's close request and Escape all come here.
  static void onClose(Fl_Widget*, void* self) {
    auto* app = static_cast<FltkApplication*>(self);
    if (app->form_->FormCloseQuery()) {
      app->endRequested_ = true;
    } else {
      app->trace_.line({"close-refused"});
    }
  }

  std::string title_;
  FormEvents* form_ = nullptr;
  // Declared before the controls, which write to it when they draw.
  Trace trace_;
  // Declared before the window, so that it outlives the box that shows it.
  std::unique_ptr<Fl_RGB_Image> banner_;
  std::unique_ptr<Fl_Double_Window> window_;
  std::array<Control, kControlCount> controls_;
  bool endRequested_ = false;
};

}  // namespace

std::unique_ptr<Application> createApplication(const std::string& title) {
  return std::make_unique<FltkApplication>(title);
}

}  // namespace ui
