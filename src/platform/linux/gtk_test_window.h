// The self-test's window on Linux: a GTK 3 window in this process, which
// the toolkit's accessibility bridge publishes on the accessibility bus
// under this process's own connection. GTK starts only when the first such
// window is asked for.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/platform.h"

typedef struct _GtkWidget GtkWidget;

namespace kelp::platform::linux_desktop {

class GtkTestWindow final : public TestWindow {
 public:
  bool canShow() override;
  bool show(const TestWindowSpec& spec) override;
  void pump(std::int64_t micros) override;
  std::string controlText(std::size_t index) override;
  bool itemChosen() override { return chosen_; }

 private:
  bool started();
  static void onItemActivated(GtkWidget* item, void* self);

  enum class Start { notTried, ok, failed } start_ = Start::notTried;
  std::vector<GtkWidget*> controls_;  // of the last window; GTK owns them
  bool chosen_ = false;
};

}  // namespace kelp::platform::linux_desktop
