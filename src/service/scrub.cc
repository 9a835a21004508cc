#include "service/scrub.h"

#include <array>
#include <string_view>

#include "text/text.h"

namespace kelp {
namespace {

constexpr std::array<std::string_view, 4> KEPT_AGENT_VARIABLES = {"SSH_AUTH_SOCK", "SSH_AGENT_PID", "GPG_AGENT_INFO",
                                                                  "GPG_TTY"};
constexpr std::string_view KEPT_NAME_WORD = "ASKPASS";
constexpr std::array<std::string_view, 7> SECRET_NAME_WORDS = {"KEY",    "TOKEN",      "SECRET", "PASSWORD",
                                                               "PASSWD", "CREDENTIAL", "AUTH"};
constexpr std::array<std::string_view, 14> SECRET_VALUE_PREFIXES = {
    "sk-", "sk_", "pk_", "ghp_", "gho_", "github_pat_", "xoxb-", "xoxp-", "AKIA", "ASIA", "eyJ", "AIza", "hf_", "glpat-"};

bool isSecret(const std::string& name, const std::string& value, platform::Workspace& files) {
  const std::string upper = text::toUpper(name);
  for (std::string_view kept : KEPT_AGENT_VARIABLES) {
    if (upper == kept) return false;
  }
  if (upper.find(KEPT_NAME_WORD) != std::string::npos) return false;
  // A variable that only points at a file names the secret's place, not the secret.
  if (value.starts_with('/') && files.fileExists(value)) return false;
  for (std::string_view word : SECRET_NAME_WORDS) {
    if (upper.find(word) != std::string::npos) return true;
  }
  for (std::string_view prefix : SECRET_VALUE_PREFIXES) {
    if (value.starts_with(prefix)) return true;
  }
  return false;
}

}  // namespace

void scrubSecretsFromOwnEnvironment(platform::Environment& environment, platform::Workspace& files) {
  // Decide on a snapshot; removing while iterating the live environment would skip entries.
  for (const auto& [name, value] : environment.snapshot()) {
    if (isSecret(name, value, files)) environment.unset(name);
  }
}

}  // namespace kelp
