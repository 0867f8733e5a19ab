#include "host/script_table.h"

#include <strings.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "kavrel/shell/text.h"

namespace host {
namespace {

using Json = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;

std::optional<ScriptType> type_from_name(const char* name) {
  if (name == nullptr) return std::nullopt;
  if (std::strcmp(name, "long") == 0) return ScriptType::Long;
  if (std::strcmp(name, "BSTR") == 0) return ScriptType::Bstr;
  if (std::strcmp(name, "BOOL") == 0) return ScriptType::Bool;
  if (std::strcmp(name, "void") == 0) return ScriptType::None;
  return std::nullopt;
}

const char* type_text(ScriptType type) {
  switch (type) {
    case ScriptType::Long: return "long";
    case ScriptType::Bstr: return "BSTR";
    case ScriptType::Bool: return "BOOL";
    case ScriptType::None: return "void";
  }
  return "void";
}

bool read_members(const cJSON* list, std::vector<ScriptMember>* out, std::string* error) {
  if (!cJSON_IsArray(list)) {
    *error = "a member list is missing";
    return false;
  }
  for (const cJSON* item = list->child; item != nullptr; item = item->next) {
    const cJSON* id = cJSON_GetObjectItemCaseSensitive(item, "dispid");
    const cJSON* name = cJSON_GetObjectItemCaseSensitive(item, "name");
    auto result = type_from_name(cJSON_GetStringValue(cJSON_GetObjectItemCaseSensitive(item, "result")));
    const cJSON* params = cJSON_GetObjectItemCaseSensitive(item, "params");
    if (!cJSON_IsNumber(id) || !cJSON_IsString(name) || !result || !cJSON_IsArray(params)) {
      *error = "a member is incomplete";
      return false;
    }
    ScriptMember member;
    member.id = static_cast<com::DISPID>(id->valuedouble);
    member.name = name->valuestring;
    member.result = *result;
    for (const cJSON* p = params->child; p != nullptr; p = p->next) {
      const char* pname = cJSON_GetStringValue(cJSON_GetObjectItemCaseSensitive(p, "name"));
      auto ptype = type_from_name(cJSON_GetStringValue(cJSON_GetObjectItemCaseSensitive(p, "type")));
      if (pname == nullptr || !ptype || *ptype == ScriptType::None) {
        *error = "a parameter of " + member.name + " is incomplete";
        return false;
      }
      member.params.push_back(ScriptParam{pname, *ptype});
    }
    out->push_back(std::move(member));
  }
  return true;
}

// An integer of 32 bits written as a JSON number (no fraction, no exponent beyond range).
bool long_of(const cJSON* item, int32_t* out) {
  if (!cJSON_IsNumber(item)) return false;
  double v = item->valuedouble;
  if (!std::isfinite(v) || v != std::floor(v) || v < -2147483648.0 || v > 2147483647.0) return false;
  *out = static_cast<int32_t>(v);
  return true;
}

const char* json_kind(const cJSON* item) {
  if (cJSON_IsNumber(item)) return "a number";
  if (cJSON_IsString(item)) return "a string";
  if (cJSON_IsBool(item)) return "a boolean";
  if (cJSON_IsNull(item)) return "null";
  if (cJSON_IsArray(item)) return "an array";
  if (cJSON_IsObject(item)) return "an object";
  return "nothing";
}

// Methods whose every string argument is a credential or names the account that goes with one.
bool carries_credentials(const std::string& method) {
  static const char* const kMethods[] = {"CliInit", "CliCloudInitSimple", "CliAddDeviceP2P", "CliLoginDeviceP2PDev"};
  for (const char* m : kMethods) {
    if (strcasecmp(m, method.c_str()) == 0) return true;
  }
  return false;
}

bool names_a_secret(const std::string& param) {
  std::string lower;
  for (char c : param) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return lower.find("pass") != std::string::npos || lower.find("key") != std::string::npos ||
         lower.find("token") != std::string::npos;
}

}  // namespace

std::optional<ScriptTable> ScriptTable::parse(const std::string& description, std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  Json doc(cJSON_Parse(description.c_str()), cJSON_Delete);
  if (!doc) {
    *error = "the type library description is not JSON";
    return std::nullopt;
  }
  ScriptTable table;
  const cJSON* dispatch = cJSON_GetObjectItemCaseSensitive(doc.get(), "dispinterface");
  const cJSON* events = cJSON_GetObjectItemCaseSensitive(doc.get(), "events");
  if (!read_members(cJSON_GetObjectItemCaseSensitive(dispatch, "methods"), &table.methods_, error) ||
      !read_members(cJSON_GetObjectItemCaseSensitive(events, "methods"), &table.events_, error)) {
    return std::nullopt;
  }
  return table;
}

const ScriptMember* ScriptTable::method(const std::string& name) const {
  for (const ScriptMember& m : methods_) {
    if (strcasecmp(m.name.c_str(), name.c_str()) == 0) return &m;
  }
  return nullptr;
}

const ScriptMember* ScriptTable::event(com::DISPID id) const {
  for (const ScriptMember& m : events_) {
    if (m.id == id) return &m;
  }
  return nullptr;
}

bool script_args_from_json(const ScriptMember& member, const cJSON* args, std::vector<com::Variant>* values,
                           std::string* error) {
  values->clear();
  if (args == nullptr) {
    if (member.params.empty()) return true;
    *error = member.name + " takes " + std::to_string(member.params.size()) + " arguments, \"args\" is missing";
    return false;
  }
  if (!cJSON_IsArray(args)) {
    *error = "\"args\" must be an array";
    return false;
  }
  size_t count = static_cast<size_t>(cJSON_GetArraySize(args));
  if (count != member.params.size()) {
    *error = member.name + " takes " + std::to_string(member.params.size()) + " argument" +
             (member.params.size() == 1 ? "" : "s") + ", not " + std::to_string(count);
    return false;
  }
  size_t index = 0;
  for (const cJSON* item = args->child; item != nullptr; item = item->next, ++index) {
    const ScriptParam& param = member.params[index];
    bool ok = false;
    com::Variant value;
    switch (param.type) {
      case ScriptType::Long: {
        int32_t number = 0;
        ok = long_of(item, &number);
        value = com::Variant::i4(number);
        break;
      }
      case ScriptType::Bstr:
        if (cJSON_IsString(item)) {
          value = com::Variant::string(kavrel::to_wide(item->valuestring));
          ok = true;
        } else if (cJSON_IsNull(item)) {
          value = com::Variant::null();
          ok = true;
        }
        break;
      case ScriptType::Bool:
        if (cJSON_IsBool(item)) {
          value = com::Variant::boolean(cJSON_IsTrue(item));
          ok = true;
        } else if (int32_t number = 0; long_of(item, &number) && (number == 0 || number == 1)) {
          value = com::Variant::boolean(number == 1);
          ok = true;
        }
        break;
      case ScriptType::None:
        break;
    }
    if (!ok) {
      *error = member.name + ": argument " + std::to_string(index + 1) + " (" + param.name + ") must be a " +
               type_text(param.type) + ", not " + json_kind(item);
      if (param.type == ScriptType::Long && cJSON_IsNumber(item)) *error += " outside the 32-bit integers";
      values->clear();
      return false;
    }
    values->push_back(std::move(value));
  }
  return true;
}

cJSON* json_from_variant(const com::Variant& value) {
  switch (value.vt) {
    case com::VT_I4: return cJSON_CreateNumber(value.lval);
    case com::VT_BSTR: return cJSON_CreateString(kavrel::to_narrow(value.bstr).c_str());
    case com::VT_BOOL: return cJSON_CreateBool(value.boolval);
    case com::VT_NULL:
    case com::VT_EMPTY: return cJSON_CreateNull();
  }
  return cJSON_CreateNull();
}

std::string masked_call_text(const ScriptMember& member, const std::vector<com::Variant>& args) {
  bool mask_all = carries_credentials(member.name);
  std::string text = member.name + "(";
  for (size_t i = 0; i < args.size(); ++i) {
    if (i > 0) text += ", ";
    const com::Variant& v = args[i];
    bool secret = mask_all || (i < member.params.size() && names_a_secret(member.params[i].name));
    switch (v.vt) {
      case com::VT_I4: text += std::to_string(v.lval); break;
      case com::VT_BOOL: text += v.boolval ? "true" : "false"; break;
      case com::VT_NULL: text += "null"; break;
      case com::VT_EMPTY: text += "undefined"; break;
      case com::VT_BSTR:
        if (secret) {
          text += "***";
        } else {
          std::string narrow = kavrel::to_narrow(v.bstr);
          if (narrow.size() > 80) narrow = narrow.substr(0, 80) + "…";
          text += "\"" + narrow + "\"";
        }
        break;
    }
  }
  return text + ")";
}

}  // namespace host
