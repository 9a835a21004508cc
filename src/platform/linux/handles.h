// Owners of every foreign handle the Linux backend holds: GObject references,
// GLib allocations, D-Bus variants and messages, and X resources. Nothing else
// in the backend frees a foreign handle by hand.
#pragma once

#include <dbus/dbus.h>
#include <gio/gio.h>
#include <glib-object.h>
#include <glib.h>

#include <pixman.h>
#include <turbojpeg.h>

#include <memory>
#include <utility>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/record.h>
#include <sys/ipc.h>
#include <sys/shm.h>

namespace kelp::platform::linux_desktop {

// A unique_ptr deleter that calls a C release function.
template <auto Release>
struct Releaser {
  template <typename T>
  void operator()(T* handle) const {
    if (handle) Release(handle);
  }
};

// ---- GLib ------------------------------------------------------------------

using GVariantOwner = std::unique_ptr<GVariant, Releaser<g_variant_unref>>;
using GMainContextOwner = std::unique_ptr<GMainContext, Releaser<g_main_context_unref>>;
using GMainLoopOwner = std::unique_ptr<GMainLoop, Releaser<g_main_loop_unref>>;
using GSourceOwner = std::unique_ptr<GSource, Releaser<g_source_unref>>;

// g_free takes a gpointer, so it cannot be named as a template argument for
// typed pointers directly.
inline void freeGlibMemory(void* memory) { g_free(memory); }
using GCharOwner = std::unique_ptr<gchar, Releaser<freeGlibMemory>>;

// A GList of GObjects that owns both the list and a reference to each item,
// as GIO hands out from g_app_info_get_all.
inline void freeObjectList(GList* list) { g_list_free_full(list, g_object_unref); }
using ObjectListOwner = std::unique_ptr<GList, Releaser<freeObjectList>>;

// Takes ownership of a GError filled in by a call; `out()` is the GError**
// to pass.
class GErrorSlot {
 public:
  GError** out() { return &error_; }
  explicit operator bool() const { return error_ != nullptr; }
  ~GErrorSlot() {
    if (error_) g_error_free(error_);
  }
  GErrorSlot() = default;
  GErrorSlot(const GErrorSlot&) = delete;
  GErrorSlot& operator=(const GErrorSlot&) = delete;

 private:
  GError* error_ = nullptr;
};

// A counted reference to a GObject (or an AT-SPI object, which is one).
// Copies take another reference.
template <typename T>
class GRef {
 public:
  GRef() = default;
  // Takes over a reference the caller already owns ("transfer full").
  static GRef adopt(T* object) { return GRef(object); }
  // Takes a new reference to a borrowed object ("transfer none").
  static GRef retain(T* object) {
    if (object) g_object_ref(object);
    return GRef(object);
  }

  GRef(const GRef& other) : object_(other.object_) {
    if (object_) g_object_ref(object_);
  }
  GRef(GRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  GRef& operator=(GRef other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~GRef() {
    if (object_) g_object_unref(object_);
  }

  T* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  explicit GRef(T* object) : object_(object) {}
  T* object_ = nullptr;
};

// ---- libdbus ---------------------------------------------------------------

using DBusMessageOwner = std::unique_ptr<DBusMessage, Releaser<dbus_message_unref>>;
using DBusPendingCallOwner = std::unique_ptr<DBusPendingCall, Releaser<dbus_pending_call_unref>>;

// A private connection must be closed before its last reference goes.
inline void closePrivateConnection(DBusConnection* connection) {
  dbus_connection_close(connection);
  dbus_connection_unref(connection);
}
using PrivateConnectionOwner = std::unique_ptr<DBusConnection, Releaser<closePrivateConnection>>;

// A DBusError filled in by a call; `out()` is the DBusError* to pass.
class DBusErrorSlot {
 public:
  DBusErrorSlot() { dbus_error_init(&error_); }
  ~DBusErrorSlot() { dbus_error_free(&error_); }
  DBusErrorSlot(const DBusErrorSlot&) = delete;
  DBusErrorSlot& operator=(const DBusErrorSlot&) = delete;
  DBusError* out() { return &error_; }
  explicit operator bool() const { return dbus_error_is_set(&error_) != FALSE; }

 private:
  DBusError error_;
};

// ---- X11 -------------------------------------------------------------------

inline void closeDisplay(Display* display) { XCloseDisplay(display); }
using DisplayOwner = std::unique_ptr<Display, Releaser<closeDisplay>>;

// Memory Xlib hands out and wants back through XFree.
inline void freeXMemory(void* memory) { XFree(memory); }
template <typename T>
using XMemory = std::unique_ptr<T, Releaser<freeXMemory>>;

using RecordDataOwner = std::unique_ptr<XRecordInterceptData, Releaser<XRecordFreeData>>;
using MonitorsOwner = std::unique_ptr<XRRMonitorInfo, Releaser<XRRFreeMonitors>>;
using ModifierKeymapOwner = std::unique_ptr<XModifierKeymap, Releaser<XFreeModifiermap>>;

// A keyboard description from XkbGetMap, with everything it points to.
inline void freeKeyboardDescription(XkbDescRec* description) { XkbFreeKeyboard(description, 0, True); }
using KeyboardDescriptionOwner = std::unique_ptr<XkbDescRec, Releaser<freeKeyboardDescription>>;

// Both strings of a WM_CLASS hint belong to the caller.
struct ClassHintOwner {
  XClassHint hint{nullptr, nullptr};
  ClassHintOwner() = default;
  ClassHintOwner(const ClassHintOwner&) = delete;
  ClassHintOwner& operator=(const ClassHintOwner&) = delete;
  ~ClassHintOwner() {
    if (hint.res_name) XFree(hint.res_name);
    if (hint.res_class) XFree(hint.res_class);
  }
};

// Xlib's list of strings from a text property conversion.
inline void freeStringList(char** list) { XFreeStringList(list); }
using StringListOwner = std::unique_ptr<char*, Releaser<freeStringList>>;

// An XImage with the pixels it points to; XDestroyImage is a macro.
inline void destroyImage(XImage* image) { XDestroyImage(image); }
using XImageOwner = std::unique_ptr<XImage, Releaser<destroyImage>>;

// A System V shared memory segment, attached here and (MIT-SHM) by the X
// server. It is marked for removal as soon as both sides hold it, so the
// kernel frees it when the last of them lets go, even if this process dies.
// Whether the server could attach it (it cannot from another machine) shows
// only when a request that uses it fails.
class SharedSegment {
 public:
  static std::unique_ptr<SharedSegment> attach(Display* display, std::size_t size) {
    auto segment = std::unique_ptr<SharedSegment>(new SharedSegment(display, size));
    segment->info_.shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (segment->info_.shmid < 0) return nullptr;
    void* memory = shmat(segment->info_.shmid, nullptr, 0);
    if (memory == reinterpret_cast<void*>(-1)) {
      shmctl(segment->info_.shmid, IPC_RMID, nullptr);
      return nullptr;
    }
    segment->info_.shmaddr = static_cast<char*>(memory);
    segment->info_.readOnly = False;
    XShmAttach(display, &segment->info_);
    segment->attached_ = true;
    // The server attaches it while handling the request; only then may the
    // segment be marked for removal.
    XSync(display, False);
    shmctl(segment->info_.shmid, IPC_RMID, nullptr);
    return segment;
  }

  ~SharedSegment() {
    if (attached_) XShmDetach(display_, &info_);
    if (info_.shmaddr) shmdt(info_.shmaddr);
  }
  SharedSegment(const SharedSegment&) = delete;
  SharedSegment& operator=(const SharedSegment&) = delete;

  XShmSegmentInfo* info() { return &info_; }
  std::size_t size() const { return size_; }
  // The connection broke: the server let go of the segment by itself, and
  // the Display must not be used any more.
  void serverGone() { attached_ = false; }

 private:
  SharedSegment(Display* display, std::size_t size) : display_(display), size_(size) {}
  Display* display_;
  std::size_t size_;
  XShmSegmentInfo info_{};
  bool attached_ = false;
};

// An XImage header made by XShmCreateImage over a shared segment: the
// pixels belong to the segment, so the header goes without them.
// XDestroyImage frees whatever data and obdata point to.
inline void destroySharedImage(XImage* image) {
  image->data = nullptr;
  image->obdata = nullptr;  // the segment's description, ours too
  XDestroyImage(image);
}
using SharedImageOwner = std::unique_ptr<XImage, Releaser<destroySharedImage>>;

// ---- pixman and TurboJPEG --------------------------------------------------

using PixmanImageOwner = std::unique_ptr<pixman_image_t, Releaser<pixman_image_unref>>;
using TurboJpegOwner = std::unique_ptr<void, Releaser<tjDestroy>>;
using TurboJpegBufferOwner = std::unique_ptr<unsigned char, Releaser<tjFree>>;

}  // namespace kelp::platform::linux_desktop
