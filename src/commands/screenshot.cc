#include "commands/screenshot.h"

#include <string>
#include <vector>

#include "capture/capture.h"
#include "common/fields.h"
#include "common/messages.h"

namespace kelp::commands {
namespace {

constexpr double JPEG_QUALITY = 0.62;

}  // namespace

void screenshot(Context& context, const Request& request) {
  const std::string which = stringField(request.body, "which", "focused");
  const std::vector<capture::Picture> pictures = capture::captureScreen(context.os, which, request.app);
  if (pictures.empty()) {
    context.replies.fail(request.id, messages::noScreenRecording);
    return;
  }
  Json images = Json::array();
  for (const capture::Picture& picture : pictures) {
    std::optional<platform::Jpeg> jpeg = context.os.capture().encodeJpeg(picture.image, JPEG_QUALITY);
    if (!jpeg) continue;
    images.push_back({{"jpegBase64", std::move(jpeg->base64)}, {"w", jpeg->width}, {"h", jpeg->height},
                      {"note", picture.note}});
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
