// The script interface as the bridge sees it: the methods and events of the control's type
// library description, the conversion of a page's JSON arguments to script values (checked
// against the declared types) and of results and events back to JSON, and the masked text of a
// call for the log.
#pragma once

#include <cjson/cJSON.h>

#include <optional>
#include <string>
#include <vector>

#include "kavrel/shell/com.h"

namespace host {

enum class ScriptType { None, Long, Bstr, Bool };

struct ScriptParam {
  std::string name;
  ScriptType type = ScriptType::None;
};

struct ScriptMember {
  com::DISPID id = 0;
  std::string name;
  ScriptType result = ScriptType::None;
  std::vector<ScriptParam> params;
};

class ScriptTable {
 public:
  // Reads the type library description (the JSON of IControlInfo::GetTypeLibrary). Nothing when
  // it is not one.
  static std::optional<ScriptTable> parse(const std::string& description, std::string* error);

  // Methods by name, compared without regard to case as the dispatch table does.
  const ScriptMember* method(const std::string& name) const;
  const ScriptMember* event(com::DISPID id) const;
  const std::vector<ScriptMember>& methods() const { return methods_; }
  const std::vector<ScriptMember>& events() const { return events_; }

 private:
  std::vector<ScriptMember> methods_;
  std::vector<ScriptMember> events_;
};

// Converts `args` (a JSON array) into script values for `member`: long takes an integer within
// 32 bits, BSTR a string or null, BOOL a boolean or 0/1. False with a message for the page when
// the count or a type does not match.
bool script_args_from_json(const ScriptMember& member, const cJSON* args, std::vector<com::Variant>* values,
                           std::string* error);

// A result or event argument as JSON (a new item): long as a number, BSTR as a string, BOOL as a
// boolean, nothing and null as null.
cJSON* json_from_variant(const com::Variant& value);

// "CliInit(\"http://…\", ***, …)": the call as a log line shows it. Arguments of the methods
// that carry credentials are masked, and every string argument whose name says it is a
// password or key.
std::string masked_call_text(const ScriptMember& member, const std::vector<com::Variant>& args);

}  // namespace host
