#pragma once

#include <QTimer>
#include <QWidget>
#include <vector>

#include "platform/ErrorReport.h"
#include "platform/FormRules.h"
#include "platform/Platform.h"

namespace tallimo::qt {

class ToolCaption;

// The object name of the widget that screen readers know as a notification.
inline constexpr char kAnnouncer[] = "announcement";

// A live form: its top-level window, one widget per table row and the
// one-second tick that drives its timers.
class QtForm final : public Form {
 public:
  QtForm(Platform& platform, const FormSpec& spec, FormEvents& events, bool isMain);
  ~QtForm() override;

  void setCaption(std::string_view text) override;
  void setText(ControlId id, std::string_view text) override;
  std::string text(ControlId id) const override;
  void setDescription(ControlId id, std::string_view text) override;
  void setEnabled(ControlId id, bool on) override;
  void setBackColor(ControlId id, SysColor color) override;
  void setSelection(ControlId id, int start, int length) override;
  void setFocus(ControlId id) override;
  void select(ControlId id) override;
  bool isSelected(ControlId id) const override;
  void makeTopmost() override;
  void show() override;
  void showModal(Form& owner) override;
  void close() override;

  QWidget* window() const { return window_; }
  FormEvents& events() { return events_; }
  // Un-minimises, raises and activates the window once it is on screen, or
  // the modal window in front of it.
  void bringForward();

  // For the widgets, at the backend's edge.
  template <typename F>
  void notify(F&& f) {
    fatalOnError(platform_, [&] { f(events_); });
  }
  void stepOption(ControlId id, int direction);
  QRect blankArea() const;
  bool hasOwnCaption() const { return caption_ != nullptr; }
  // The user closed the window (its close box, Alt+F4, the window manager).
  void userClosed();
  void closeByUser();
  bool closingByProgram() const { return closingByProgram_; }
  // The window manager minimised the window.
  void minimised();

 private:
  QWidget* build(const ControlSpec& spec, ControlId id, QWidget* parent);
  void setTabOrder();
  void focusFirst();
  void updateOptionStops(int container);
  void markSkipTaskbar();
  void scheduleTick(bool first);
  void tick();

  Platform& platform_;
  const FormSpec& spec_;
  FormEvents& events_;
  const bool isMain_;
  QWidget* window_ = nullptr;
  QWidget* client_ = nullptr;  // the client area: the window itself, or inside the own caption
  ToolCaption* caption_ = nullptr;
  QWidget* announcer_ = nullptr;   // a notification for screen readers
  std::vector<QWidget*> widgets_;  // nullptr for timers
  Timers timers_;
  QTimer* ticker_ = nullptr;
  bool closingByProgram_ = false;
};

}  // namespace tallimo::qt
