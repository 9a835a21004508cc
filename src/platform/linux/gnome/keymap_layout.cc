// Mutter's keymap, as the input core sees a layout.
#include "platform/linux/gnome/keymap_layout.h"

#include <gio/gio.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <memory>

#include "platform/linux/handles.h"
#include "platform/linux/wayland/seat_keymap.h"

namespace kelp::platform::linux_desktop::gnome {
namespace {

using ContextOwner = std::unique_ptr<xkb_context, Releaser<xkb_context_unref>>;
using KeymapOwner = std::unique_ptr<xkb_keymap, Releaser<xkb_keymap_unref>>;
using StrvOwner = std::unique_ptr<gchar*, Releaser<g_strfreev>>;
void freeCMemory(void* memory) { std::free(memory); }
using CStringOwner = std::unique_ptr<char, Releaser<freeCMemory>>;

constexpr const char* INPUT_SOURCES_SCHEMA = "org.gnome.desktop.input-sources";
// GNOME Shell keeps one group of each keymap free for the layout of the
// interface's language, for mnemonics.
constexpr unsigned LAYOUTS_PER_KEYMAP = 3;

using Sources = std::vector<std::pair<std::string, std::string>>;

// The input-sources settings, when the schema is installed.
GRef<GSettings> inputSourceSettings() {
  GSettingsSchemaSource* schemas = g_settings_schema_source_get_default();
  GSettingsSchema* schema = schemas ? g_settings_schema_source_lookup(schemas, INPUT_SOURCES_SCHEMA, TRUE) : nullptr;
  if (!schema) return {};
  const bool hasMru = g_settings_schema_has_key(schema, "mru-sources");
  g_settings_schema_unref(schema);
  if (!hasMru) return {};
  return GRef<GSettings>::adopt(g_settings_new(INPUT_SOURCES_SCHEMA));
}

Sources sourcesOf(GSettings* settings, const char* key) {
  Sources sources;
  GVariantOwner list(g_settings_get_value(settings, key));
  GVariantIter iter;
  g_variant_iter_init(&iter, list.get());
  const gchar* type = nullptr;
  const gchar* id = nullptr;
  while (g_variant_iter_next(&iter, "(&s&s)", &type, &id)) sources.emplace_back(type, id);
  return sources;
}

}  // namespace

XkbNames namesOfInputSources(const std::vector<std::pair<std::string, std::string>>& sources,
                             const std::vector<std::string>& options) {
  XkbNames names;
  for (const auto& [type, id] : sources) {
    if (type != "xkb") continue;
    const std::size_t plus = id.find('+');
    names.layout = id.substr(0, plus);
    if (plus != std::string::npos) names.variant = id.substr(plus + 1);
    break;
  }
  for (const std::string& option : options) names.options += (names.options.empty() ? "" : ",") + option;
  return names;
}

std::optional<unsigned> groupOfInputSources(const Sources& sources, const Sources& mru,
                                            std::optional<unsigned> current) {
  if (sources.empty()) return std::nullopt;
  std::vector<std::string> distinct;
  for (const auto& [type, id] : sources) {
    if (type != "xkb") return std::nullopt;
    if (std::find(distinct.begin(), distinct.end(), id) == distinct.end()) distinct.push_back(id);
  }
  const auto used = std::find_if(mru.begin(), mru.end(), [&sources](const auto& source) {
    return std::find(sources.begin(), sources.end(), source) != sources.end();
  });
  const std::string& active = used != mru.end()                        ? used->second
                              : current && *current < sources.size() ? sources[*current].second
                                                                       : sources.front().second;
  const auto index = static_cast<unsigned>(std::find(distinct.begin(), distinct.end(), active) - distinct.begin());
  return index % LAYOUTS_PER_KEYMAP;
}

std::optional<unsigned> sessionKeymapGroup() {
  GRef<GSettings> settings = inputSourceSettings();
  if (!settings) return std::nullopt;
  return groupOfInputSources(sourcesOf(settings.get(), "sources"), sourcesOf(settings.get(), "mru-sources"),
                             g_settings_get_uint(settings.get(), "current"));
}

std::optional<KeyboardLayout> layoutOfNames(const XkbNames& names) {
  ContextOwner context(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
  if (!context) return std::nullopt;
  // xkbcommon logs to standard error by default, which belongs to the parent.
  xkb_context_set_log_fn(context.get(), [](xkb_context*, xkb_log_level, const char*, va_list) {});
  const auto orNull = [](const std::string& text) { return text.empty() ? nullptr : text.c_str(); };
  xkb_rule_names rules{};
  rules.layout = orNull(names.layout);
  // A variant without its layout would be a variant of the default one.
  rules.variant = names.layout.empty() ? nullptr : orNull(names.variant);
  rules.options = orNull(names.options);
  KeymapOwner keymap(xkb_keymap_new_from_names(context.get(), &rules, XKB_KEYMAP_COMPILE_NO_FLAGS));
  if (!keymap) return std::nullopt;
  CStringOwner text(xkb_keymap_get_as_string(keymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1));
  if (!text) return std::nullopt;
  return wayland::layoutOfKeymapText(text.get());
}

std::optional<KeyboardLayout> sessionKeyboardLayout() {
  std::vector<std::pair<std::string, std::string>> sources;
  std::vector<std::string> options;
  GSettingsSchemaSource* schemas = g_settings_schema_source_get_default();
  GSettingsSchema* schema = schemas ? g_settings_schema_source_lookup(schemas, INPUT_SOURCES_SCHEMA, TRUE) : nullptr;
  if (schema) {
    g_settings_schema_unref(schema);
    GRef<GSettings> settings = GRef<GSettings>::adopt(g_settings_new(INPUT_SOURCES_SCHEMA));
    sources = sourcesOf(settings.get(), "sources");
    StrvOwner chosen(g_settings_get_strv(settings.get(), "xkb-options"));
    for (gchar** option = chosen.get(); option && *option; ++option) options.emplace_back(*option);
  }
  return layoutOfNames(namesOfInputSources(sources, options));
}

}  // namespace kelp::platform::linux_desktop::gnome
