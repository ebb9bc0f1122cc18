#include "platform/sim/sim_login_item.h"

#include "platform/sim/scenario_registry.h"
#include "platform/sim/sim_desktop.h"

namespace dravel::sim {

std::optional<std::string> SimLoginItem::registerService() {
  ++registers;
  if (registerRefusal) return registerRefusal;
  currentStatus = needsApproval ? kLoginItemRequiresApproval : kLoginItemEnabled;
  return std::nullopt;
}

std::optional<std::string> SimLoginItem::unregisterService() {
  ++unregisters;
  if (unregisterRefusal) return unregisterRefusal;
  currentStatus = kLoginItemNotRegistered;
  return std::nullopt;
}

namespace {

// Reads an optional refusal text: absent or null is none. Empty, or the error.
std::string readRefusal(const Value& section, const char* key, std::optional<std::string>& out) {
  out.reset();
  const Value* value = section.at(key);
  if (!value || value->isNull()) return {};
  const std::string* text = value->asString();
  if (!text) return std::string(key) + ": expected a string or null";
  out = *text;
  return {};
}

// "loginItem": {"status": 0..3, "needsApproval": bool, "refuseRegister": text | null,
// "refuseUnregister": text | null}.
const SectionRegistrar kLoginItemSection{checkedSection(
    "loginItem",
    [](const Value& value, SimDesktop* desktop) -> std::string {
      if (!value.asMap()) return "expected a map";
      SimLoginItem item;
      if (const Value* status = value.at("status")) {
        std::optional<int64_t> code = status->asInt();
        if (!code || *code < kLoginItemNotRegistered || *code > kLoginItemNotFound) {
          return "status: expected 0 (not registered), 1 (enabled), 2 (requires approval) or "
                 "3 (not found)";
        }
        item.currentStatus = static_cast<int>(*code);
      }
      if (const Value* approval = value.at("needsApproval")) {
        if (!approval->asBool()) return "needsApproval: expected true or false";
        item.needsApproval = *approval->asBool();
      }
      for (auto [key, refusal] : {std::pair{"refuseRegister", &item.registerRefusal},
                                  std::pair{"refuseUnregister", &item.unregisterRefusal}}) {
        if (std::string error = readRefusal(value, key, *refusal); !error.empty()) return error;
      }
      if (desktop) desktop->loginItem() = item;
      return {};
    },
    [](SimDesktop& desktop) -> Value {
      SimLoginItem& item = desktop.loginItem();
      return ValueMap{{"status", item.currentStatus},
                      {"registers", item.registers},
                      {"unregisters", item.unregisters}};
    })};

}  // namespace
}  // namespace dravel::sim
