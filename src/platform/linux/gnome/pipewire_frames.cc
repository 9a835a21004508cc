// Receiving a screen cast's frames from PipeWire on a thread loop of our own.
#include "platform/linux/gnome/pipewire_frames.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>

#include <bit>
#include <cerrno>
#include <ctime>
#include <mutex>

namespace kelp::platform::linux_desktop::gnome {
namespace {

// Mutter offers BGRx or BGRA for a monitor; the rest costs nothing to accept.
constexpr spa_video_format OFFERED_FORMATS[] = {
    SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA,
    SPA_VIDEO_FORMAT_xRGB, SPA_VIDEO_FORMAT_ARGB, SPA_VIDEO_FORMAT_xBGR, SPA_VIDEO_FORMAT_ABGR,
};

// PipeWire logs to standard error, which belongs to our parent: nothing of
// it may be written. pw_init reads PIPEWIRE_DEBUG, and a context may read a
// level from its configuration, so the level is set after both.
void silencePipeWire() { pw_log_set_level(SPA_LOG_LEVEL_NONE); }

void initPipeWire() {
  static std::once_flag once;
  std::call_once(once, [] {
    pw_init(nullptr, nullptr);
    silencePipeWire();
  });
}

std::int64_t nanoseconds(std::chrono::milliseconds duration) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(duration).count();
}

// The clock of Mutter's frame times.
std::int64_t monotonicNow() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

}  // namespace

std::optional<pixman_format_code_t> pixmanFormatOfVideo(std::uint32_t videoFormat) {
  if constexpr (std::endian::native != std::endian::little) return std::nullopt;
  // SPA names the bytes in memory order; pixman the bits of a native word.
  switch (videoFormat) {
    case SPA_VIDEO_FORMAT_BGRx:
    case SPA_VIDEO_FORMAT_BGRA:
      return PIXMAN_x8r8g8b8;
    case SPA_VIDEO_FORMAT_RGBx:
    case SPA_VIDEO_FORMAT_RGBA:
      return PIXMAN_x8b8g8r8;
    case SPA_VIDEO_FORMAT_xRGB:
    case SPA_VIDEO_FORMAT_ARGB:
      return PIXMAN_b8g8r8x8;
    case SPA_VIDEO_FORMAT_xBGR:
    case SPA_VIDEO_FORMAT_ABGR:
      return PIXMAN_r8g8b8x8;
    default:
      return std::nullopt;
  }
}

bool frameFits(int width, int height, int stride, std::size_t offset, std::size_t bytes) {
  if (width <= 0 || height <= 0 || stride <= 0 || stride % 4 != 0 || offset % 4 != 0) return false;
  const auto rowBytes = static_cast<std::uint64_t>(width) * 4;
  if (static_cast<std::uint64_t>(stride) < rowBytes) return false;
  const std::uint64_t end =
      offset + static_cast<std::uint64_t>(stride) * static_cast<std::uint64_t>(height - 1) + rowBytes;
  return end <= bytes;
}

std::optional<std::string> pipewireSocketPath(const char* remote, const char* pipewireRuntimeDir,
                                              const char* runtimeDir) {
  const std::string name = remote && *remote ? remote : "pipewire-0";
  if (name.front() == '/') return name;
  const char* folder = pipewireRuntimeDir && *pipewireRuntimeDir ? pipewireRuntimeDir : runtimeDir;
  if (!folder || !*folder) return std::nullopt;
  return std::string(folder) + "/" + name;
}

// ---- the stream ----------------------------------------------------------------

// Everything the loop's thread touches; fields below `stream` only under
// the loop's lock. Tearing down in the destructor's order is the only way
// PipeWire lets go of these.
struct PipeWireFrames::State {
  pw_thread_loop* loop = nullptr;
  pw_context* context = nullptr;
  pw_core* core = nullptr;
  pw_stream* stream = nullptr;
  spa_hook coreListener{};
  spa_hook streamListener{};
  bool listeningToCore = false;

  bool failed = false;
  std::optional<pixman_format_code_t> format;
  int width = 0;
  int height = 0;
  // The newest whole frame, kept from the producer until the next one.
  pw_buffer* held = nullptr;
  FrameView heldView;
  // When Mutter painted it (CLOCK_MONOTONIC, ns); negative when the buffer
  // carried no time.
  std::int64_t heldPainted = -1;
  std::uint64_t frames = 0;

  State() = default;
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  ~State() {
    if (loop) pw_thread_loop_lock(loop);
    if (stream) pw_stream_destroy(stream);  // gives back every buffer, held or not
    if (listeningToCore) spa_hook_remove(&coreListener);
    if (core) pw_core_disconnect(core);
    if (loop) {
      pw_thread_loop_unlock(loop);
      pw_thread_loop_stop(loop);
    }
    if (context) pw_context_destroy(context);
    if (loop) pw_thread_loop_destroy(loop);
  }

  void fail() {
    failed = true;
    pw_thread_loop_signal(loop, false);
  }

  // The newest buffer the stream has; older ones go straight back.
  pw_buffer* newestBuffer() {
    pw_buffer* newest = nullptr;
    while (pw_buffer* buffer = pw_stream_dequeue_buffer(stream)) {
      if (newest) pw_stream_queue_buffer(stream, newest);
      newest = buffer;
    }
    return newest;
  }

  // The picture in `buffer`, none when it holds no whole frame (a cursor
  // move alone, a frame the producer marked broken, a format we refused).
  std::optional<FrameView> viewOf(pw_buffer* buffer) const {
    if (!format) return std::nullopt;
    spa_buffer* frame = buffer->buffer;
    if (!frame || frame->n_datas < 1) return std::nullopt;
    const spa_data& data = frame->datas[0];
    if (!data.data || !data.chunk || data.chunk->size == 0 || (data.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED)) {
      return std::nullopt;
    }
    const auto* header =
        static_cast<const spa_meta_header*>(spa_buffer_find_meta_data(frame, SPA_META_Header, sizeof(spa_meta_header)));
    if (header && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED)) return std::nullopt;
    const int stride = data.chunk->stride > 0 ? data.chunk->stride : width * 4;
    if (!frameFits(width, height, stride, data.chunk->offset, data.maxsize)) return std::nullopt;
    return FrameView{*format, width, height, stride, static_cast<std::uint8_t*>(data.data) + data.chunk->offset};
  }

  void frameArrived() {
    pw_buffer* newest = newestBuffer();
    if (!newest) return;
    const std::optional<FrameView> view = viewOf(newest);
    if (!view) {
      pw_stream_queue_buffer(stream, newest);
      return;
    }
    if (held) pw_stream_queue_buffer(stream, held);
    held = newest;
    heldView = *view;
    const auto* header = static_cast<const spa_meta_header*>(
        spa_buffer_find_meta_data(newest->buffer, SPA_META_Header, sizeof(spa_meta_header)));
    heldPainted = header ? header->pts : -1;
    ++frames;
    pw_thread_loop_signal(loop, false);
  }

  void formatChosen(const spa_pod* param) {
    std::uint32_t mediaType = 0;
    std::uint32_t mediaSubtype = 0;
    format.reset();
    if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 || mediaType != SPA_MEDIA_TYPE_video ||
        mediaSubtype != SPA_MEDIA_SUBTYPE_raw) {
      return;
    }
    spa_video_info_raw info{};
    if (spa_format_video_raw_parse(param, &info) < 0) return;
    format = pixmanFormatOfVideo(info.format);
    width = static_cast<int>(info.size.width);
    height = static_cast<int>(info.size.height);
    // Pixels we can read in place: shared memory, never DMA-BUF (which
    // Mutter offers only with modifiers, and we name none). The header
    // carries the time each frame was painted.
    std::uint8_t buffer[256];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    spa_pod_frame frame{};
    spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers);
    spa_pod_builder_add(&builder, SPA_PARAM_BUFFERS_dataType,
                        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr)), 0);
    const auto* buffers = static_cast<const spa_pod*>(spa_pod_builder_pop(&builder, &frame));
    spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta);
    spa_pod_builder_add(&builder, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size,
                        SPA_POD_Int(static_cast<int>(sizeof(spa_meta_header))), 0);
    const auto* header = static_cast<const spa_pod*>(spa_pod_builder_pop(&builder, &frame));
    const spa_pod* params[] = {buffers, header};
    pw_stream_update_params(stream, params, 2);
  }
};

namespace {

using State = PipeWireFrames::State;

const pw_core_events CORE_EVENTS = [] {
  pw_core_events events{};
  events.version = PW_VERSION_CORE_EVENTS;
  events.error = [](void* data, std::uint32_t id, int, int, const char*) {
    // The connection to the daemon itself broke.
    if (id == PW_ID_CORE) static_cast<State*>(data)->fail();
  };
  return events;
}();

const pw_stream_events STREAM_EVENTS = [] {
  pw_stream_events events{};
  events.version = PW_VERSION_STREAM_EVENTS;
  events.state_changed = [](void* data, pw_stream_state, pw_stream_state state, const char*) {
    if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) static_cast<State*>(data)->fail();
  };
  events.param_changed = [](void* data, std::uint32_t id, const spa_pod* param) {
    if (id == SPA_PARAM_Format && param) static_cast<State*>(data)->formatChosen(param);
  };
  events.remove_buffer = [](void* data, pw_buffer* buffer) {
    auto* state = static_cast<State*>(data);
    if (state->held == buffer) state->held = nullptr;
  };
  events.process = [](void* data) { static_cast<State*>(data)->frameArrived(); };
  return events;
}();

// Holds the loop's lock for a scope.
class LoopLock {
 public:
  explicit LoopLock(pw_thread_loop* loop) : loop_(loop) { pw_thread_loop_lock(loop_); }
  ~LoopLock() { pw_thread_loop_unlock(loop_); }
  LoopLock(const LoopLock&) = delete;
  LoopLock& operator=(const LoopLock&) = delete;

 private:
  pw_thread_loop* loop_;
};

}  // namespace

std::unique_ptr<PipeWireFrames> PipeWireFrames::open(std::uint32_t nodeId) {
  initPipeWire();
  auto state = std::make_unique<State>();
  state->loop = pw_thread_loop_new("kelp-screencast", nullptr);
  if (!state->loop) return nullptr;
  state->context = pw_context_new(pw_thread_loop_get_loop(state->loop), nullptr, 0);
  silencePipeWire();
  if (!state->context || pw_thread_loop_start(state->loop) < 0) return nullptr;

  LoopLock lock(state->loop);
  state->core = pw_context_connect(state->context, nullptr, 0);
  if (!state->core) return nullptr;
  pw_core_add_listener(state->core, &state->coreListener, &CORE_EVENTS, state.get());
  state->listeningToCore = true;
  state->stream = pw_stream_new(state->core, "kelp-cua screen",
                                pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                                  PW_KEY_MEDIA_ROLE, "Screen", nullptr));
  if (!state->stream) return nullptr;
  pw_stream_add_listener(state->stream, &state->streamListener, &STREAM_EVENTS, state.get());

  std::uint8_t buffer[1024];
  spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
  const spa_pod* params[std::size(OFFERED_FORMATS)];
  std::uint32_t count = 0;
  for (const spa_video_format format : OFFERED_FORMATS) {
    spa_video_info_raw info{};
    info.format = format;
    params[count++] = spa_format_video_raw_build(&builder, SPA_PARAM_EnumFormat, &info);
  }
  const auto flags = static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS);
  if (pw_stream_connect(state->stream, PW_DIRECTION_INPUT, nodeId, flags, params, count) < 0) return nullptr;
  return std::unique_ptr<PipeWireFrames>(new PipeWireFrames(std::move(state)));
}

PipeWireFrames::PipeWireFrames(std::unique_ptr<State> state) : state_(std::move(state)) {}
PipeWireFrames::~PipeWireFrames() = default;

bool PipeWireFrames::alive() {
  LoopLock lock(state_->loop);
  return !state_->failed;
}

bool PipeWireFrames::withFrame(std::chrono::milliseconds firstWait, std::chrono::milliseconds freshWait,
                               const std::function<void(const FrameView&)>& use) {
  State& state = *state_;
  LoopLock lock(state.loop);
  const std::int64_t asked = monotonicNow();
  const std::uint64_t before = state.frames;
  timespec first{};
  timespec fresh{};
  pw_thread_loop_get_time(state.loop, &first, nanoseconds(firstWait));
  pw_thread_loop_get_time(state.loop, &fresh, nanoseconds(freshWait));
  pw_stream_set_active(state.stream, true);
  // Without a time on the frames, one that came after the call will do.
  const auto paintedSince = [&] {
    return state.held && (state.heldPainted >= 0 ? state.heldPainted >= asked : state.frames > before);
  };
  while (!state.failed && !paintedSince()) {
    timespec* until = state.held ? &fresh : &first;
    if (pw_thread_loop_timed_wait_full(state.loop, until) == -ETIMEDOUT) break;
  }
  const bool taken = !state.failed && state.held;
  if (taken) use(state.heldView);
  if (!state.failed) pw_stream_set_active(state.stream, false);
  return taken;
}

}  // namespace kelp::platform::linux_desktop::gnome
