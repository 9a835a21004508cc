// The self-test's GTK 3 window, its menu and its texts.
#include "platform/linux/gtk_test_window.h"

#include <gtk/gtk.h>

#include <chrono>
#include <cstdlib>

namespace kelp::platform::linux_desktop {
namespace {

void setIdentifier(GtkWidget* widget, const std::string& identifier) {
  if (identifier.empty()) return;
  if (AtkObject* accessible = gtk_widget_get_accessible(widget)) {
    atk_object_set_accessible_id(accessible, identifier.c_str());
  }
}

GtkWidget* controlWidget(const TestControl& control) {
  switch (control.kind) {
    case TestControl::Kind::button:
      return gtk_button_new_with_label(control.text.c_str());
    case TestControl::Kind::textField: {
      GtkWidget* entry = gtk_entry_new();
      gtk_entry_set_placeholder_text(GTK_ENTRY(entry), control.placeholder.c_str());
      return entry;
    }
    case TestControl::Kind::label: {
      GtkWidget* label = gtk_label_new(control.text.c_str());
      gtk_label_set_selectable(GTK_LABEL(label), FALSE);
      gtk_label_set_xalign(GTK_LABEL(label), 0);
      return label;
    }
  }
  return nullptr;
}

gboolean wake(gpointer) { return G_SOURCE_REMOVE; }

}  // namespace

bool GtkTestWindow::started() {
  if (start_ == Start::notTried) {
    // GTK opens its window on whichever the session is, Wayland first.
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* display = std::getenv("DISPLAY");
    const bool session = (wayland && *wayland) || (display && *display);
    // GTK must not change the process's locale: numbers are written the C way.
    gtk_disable_setlocale();
    start_ = session && gtk_init_check(nullptr, nullptr) ? Start::ok : Start::failed;
  }
  return start_ == Start::ok;
}

bool GtkTestWindow::canShow() { return started(); }

void GtkTestWindow::onItemActivated(GtkWidget*, void* self) { static_cast<GtkTestWindow*>(self)->chosen_ = true; }

bool GtkTestWindow::show(const TestWindowSpec& spec) {
  if (!started()) return false;
  chosen_ = false;
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), spec.title.c_str());
  // Closing the window hides it: the helper keeps reading its controls.
  g_signal_connect(window, "delete-event", G_CALLBACK(gtk_widget_hide_on_delete), nullptr);
  GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_container_add(GTK_CONTAINER(window), column);

  GtkWidget* bar = gtk_menu_bar_new();
  for (const TestMenu& menu : spec.menus) {
    GtkWidget* top = gtk_menu_item_new_with_label(menu.title.c_str());
    GtkWidget* items = gtk_menu_new();
    for (const std::string& title : menu.items) {
      GtkWidget* item = gtk_menu_item_new_with_label(title.c_str());
      g_signal_connect(item, "activate", G_CALLBACK(&GtkTestWindow::onItemActivated), this);
      gtk_menu_shell_append(GTK_MENU_SHELL(items), item);
    }
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(top), items);
    gtk_menu_shell_append(GTK_MENU_SHELL(bar), top);
  }
  gtk_box_pack_start(GTK_BOX(column), bar, FALSE, FALSE, 0);

  GtkWidget* content = gtk_fixed_new();
  gtk_widget_set_size_request(content, static_cast<int>(spec.width), static_cast<int>(spec.height));
  gtk_box_pack_start(GTK_BOX(column), content, TRUE, TRUE, 0);
  controls_.clear();
  for (const TestControl& control : spec.controls) {
    GtkWidget* widget = controlWidget(control);
    gtk_widget_set_size_request(widget, static_cast<int>(control.w), static_cast<int>(control.h));
    gtk_fixed_put(GTK_FIXED(content), widget, static_cast<int>(control.x), static_cast<int>(control.y));
    setIdentifier(widget, control.identifier);
    controls_.push_back(widget);
  }
  gtk_widget_show_all(window);
  gtk_window_present(GTK_WINDOW(window));
  return true;
}

void GtkTestWindow::pump(std::int64_t micros) {
  if (!started()) return;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::microseconds(micros);
  for (auto left = end - Clock::now(); left.count() > 0; left = end - Clock::now()) {
    // A timer of its own, so that waiting for the next event ends in time.
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(left).count() + 1;
    const guint timer = g_timeout_add(static_cast<guint>(millis), wake, nullptr);
    g_main_context_iteration(nullptr, TRUE);
    if (GSource* source = g_main_context_find_source_by_id(nullptr, timer)) g_source_destroy(source);
  }
}

std::string GtkTestWindow::controlText(std::size_t index) {
  if (index >= controls_.size()) return "";
  GtkWidget* widget = controls_[index];
  const char* text = nullptr;
  if (GTK_IS_ENTRY(widget)) text = gtk_entry_get_text(GTK_ENTRY(widget));
  if (GTK_IS_LABEL(widget)) text = gtk_label_get_text(GTK_LABEL(widget));
  if (GTK_IS_BUTTON(widget)) text = gtk_button_get_label(GTK_BUTTON(widget));
  return text ? text : "";
}

}  // namespace kelp::platform::linux_desktop
