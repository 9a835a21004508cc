#include "common/fields.h"

namespace kelp {
namespace {

const Json* field(const Json& object, const char* name) {
  if (!object.is_object()) return nullptr;
  auto it = object.find(name);
  return it == object.end() ? nullptr : &*it;
}

}  // namespace

std::optional<std::string> stringField(const Json& object, const char* name) {
  const Json* value = field(object, name);
  if (!value || !value->is_string()) return std::nullopt;
  return value->get<std::string>();
}

std::string stringField(const Json& object, const char* name, std::string fallback) {
  return stringField(object, name).value_or(std::move(fallback));
}

std::vector<std::string> stringListField(const Json& object, const char* name) {
  const Json* value = field(object, name);
  if (!value || !value->is_array()) return {};
  std::vector<std::string> list;
  for (const Json& item : *value) {
    if (!item.is_string()) return {};
    list.push_back(item.get<std::string>());
  }
  return list;
}

std::optional<std::int64_t> integerField(const Json& object, const char* name) {
  const Json* value = field(object, name);
  return value ? integerValue(*value) : std::nullopt;
}

double numberField(const Json& object, const char* name, double fallback) {
  return optionalNumberField(object, name).value_or(fallback);
}

std::optional<double> optionalNumberField(const Json& object, const char* name) {
  const Json* value = field(object, name);
  if (!value || !value->is_number()) return std::nullopt;
  return value->get<double>();
}

std::optional<bool> booleanField(const Json& object, const char* name) {
  const Json* value = field(object, name);
  if (!value || !value->is_boolean()) return std::nullopt;
  return value->get<bool>();
}

const Json* objectField(const Json& object, const char* name) {
  const Json* value = field(object, name);
  return value && value->is_object() ? value : nullptr;
}

}  // namespace kelp
