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

// Reads an optional refusal text: absent or null is none.
bool readRefusal(const Value& section, const char* key, std::optional<std::string>& out) {
  out.reset();
  const Value* value = section.at(key);
  if (!value || value->isNull()) return true;
  if (const std::string* text = value->asString()) {
    out = *text;
    return true;
  }
  return false;
}

// "loginItem": {"status": 0..3, "needsApproval": bool, "refuseRegister": text | null,
// "refuseUnregister": text | null}.
const SectionRegistrar kLoginItemSection{{
    "loginItem",
    [](const Value& value, SimDesktop& desktop) -> std::string {
      if (!value.asMap()) return "\"loginItem\" must be a map";
      SimLoginItem item;
      if (const Value* status = value.at("status")) {
        if (!status->asInt()) return "\"loginItem.status\" must be an integer";
        item.currentStatus = static_cast<int>(*status->asInt());
      }
      if (const Value* approval = value.at("needsApproval")) {
        if (!approval->asBool()) return "\"loginItem.needsApproval\" must be a boolean";
        item.needsApproval = *approval->asBool();
      }
      if (!readRefusal(value, "refuseRegister", item.registerRefusal) ||
          !readRefusal(value, "refuseUnregister", item.unregisterRefusal)) {
        return "a login-item refusal must be a text or null";
      }
      desktop.loginItem() = item;
      return {};
    },
    [](SimDesktop& desktop) -> Value {
      SimLoginItem& item = desktop.loginItem();
      return ValueMap{{"status", item.currentStatus},
                      {"registers", item.registers},
                      {"unregisters", item.unregisters}};
    },
}};

}  // namespace
}  // namespace dravel::sim
