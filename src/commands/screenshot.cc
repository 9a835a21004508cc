#include "commands/screenshot.h"

#include <string>
#include <vector>

#include "ax/attributes.h"
#include "capture/capture.h"
#include "commands/scope.h"
#include "common/fields.h"
#include "common/messages.h"

namespace kelp::commands {
namespace {

constexpr double JPEG_QUALITY = 0.62;

// "region": {"x","y","w","h"} in screen points; none when absent or when a
// number is missing.
std::optional<capture::ScreenRegion> regionField(const Json& body) {
  const Json* region = objectField(body, "region");
  if (!region) return std::nullopt;
  const std::optional<double> x = optionalNumberField(*region, "x");
  const std::optional<double> y = optionalNumberField(*region, "y");
  const std::optional<double> w = optionalNumberField(*region, "w");
  const std::optional<double> h = optionalNumberField(*region, "h");
  if (!x || !y || !w || !h) return std::nullopt;
  return capture::ScreenRegion{*x, *y, *w, *h};
}

// "window": true or "front" for the target application's window in front,
// or a title (or a part of one) of one of its windows.
std::optional<std::string> windowField(const Json& body) {
  if (std::optional<bool> flag = booleanField(body, "window")) {
    return *flag ? std::optional<std::string>(FRONT_WINDOW) : std::nullopt;
  }
  std::optional<std::string> title = stringField(body, "window");
  if (title && title->empty()) return std::string(FRONT_WINDOW);
  return title;
}

// The frame of the application's window `window` names.
std::optional<capture::ScreenRegion> windowRegion(Context& context, const Request& request,
                                                  const std::string& window) {
  platform::Accessibility& ax = context.os.accessibility();
  std::optional<ax::AppPair> target = ax::appElement(context.os, request.app, request.pid);
  if (!target) return std::nullopt;
  std::optional<ScopeRoot> root = scopeRoot(ax, target->element, WalkScope{window, true});
  if (!root) return std::nullopt;
  std::optional<ax::Frame> frame = ax::frameOf(ax, root->element);
  if (!frame) return std::nullopt;
  return capture::ScreenRegion{frame->x, frame->y, frame->w, frame->h};
}

}  // namespace

void screenshot(Context& context, const Request& request) {
  std::vector<capture::Placement>& shown = context.lasting.shownPictures;
  shown.clear();
  const std::optional<std::int64_t> maxWidth = integerField(request.body, "maxWidth");
  if (maxWidth && (*maxWidth <= 0 || *maxWidth > capture::MAX_REGION_EDGE)) {
    context.replies.fail(request.id, messages::badPictureWidth);
    return;
  }
  std::optional<capture::ScreenRegion> region = regionField(request.body);
  if (!region && objectField(request.body, "region")) {
    context.replies.fail(request.id, messages::badRegion);
    return;
  }
  if (!region) {
    if (std::optional<std::string> window = windowField(request.body)) {
      region = windowRegion(context, request, *window);
      if (!region) {
        context.replies.fail(request.id, messages::noWindowToCapture);
        return;
      }
    }
  }
  const std::optional<int> width = maxWidth ? std::optional<int>(static_cast<int>(*maxWidth)) : std::nullopt;
  std::vector<capture::Picture> pictures;
  if (region) {
    pictures = capture::captureRegion(context.os, *region, width);
  } else {
    pictures = capture::captureScreen(context.os, stringField(request.body, "which", "focused"), request.app,
                                      width.value_or(capture::MAX_PICTURE_WIDTH));
  }
  if (pictures.empty()) {
    // A region off every display is the request's fault, not the screen's.
    const bool offScreen = region && context.os.capabilities().screenCapture;
    context.replies.fail(request.id, offScreen ? messages::regionOffScreen : messages::noScreenRecording);
    return;
  }
  Json images = Json::array();
  for (const capture::Picture& picture : pictures) {
    std::optional<platform::Jpeg> jpeg = context.os.capture().encodeJpeg(picture.image, JPEG_QUALITY);
    if (!jpeg) continue;
    const capture::Placement& place = picture.placement;
    images.push_back({{"jpegBase64", std::move(jpeg->base64)},
                      {"w", jpeg->width},
                      {"h", jpeg->height},
                      {"note", picture.note},
                      {"x", place.x},
                      {"y", place.y},
                      {"scale", place.scale}});
    shown.push_back(place);
  }
  // The first picture is repeated at the top for callers that want one.
  Json first = images.empty() ? Json() : images[0];
  Json result;
  result["images"] = std::move(images);
  result["displays"] = result["images"].size();
  if (first.is_object()) {
    result["jpegBase64"] = std::move(first["jpegBase64"]);
    result["w"] = first["w"];
    result["h"] = first["h"];
  }
  context.replies.succeed(request.id, std::move(result));
}

}  // namespace kelp::commands
