#include "platform/sim/sim_alerts.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "platform/sim/scenario_registry.h"
#include "platform/sim/section_fields.h"
#include "platform/sim/sim_desktop.h"

namespace dravel::sim {

long SimAlerts::runModal(const AlertContent& alert) {
  shown.push_back({alert, std::nullopt});
  runs_.push_back({shown.size() - 1, std::nullopt});
  MainQueue& queue = mainQueue();

  // The earliest scripted press belongs to this alert.
  auto timer = std::make_shared<std::optional<TimerId>>();
  if (!script.empty()) {
    const double wait = std::max(0.0, script.begin()->first - queue.now());
    *timer = queue.addModalTimer(wait, [this, timer, &queue] {
      if (!*timer) return;
      queue.cancelTimer(**timer);
      timer->reset();
      if (script.empty()) return;
      std::string button = script.begin()->second;
      script.erase(script.begin());
      press(button);
    });
  }

  queue.runModal();

  if (*timer) queue.cancelTimer(**timer);
  Run run = runs_.back();
  runs_.pop_back();
  // A modal run that ended without a press or an abort was abandoned.
  const long response = run.response.value_or(kModalResponseAbort);
  shown[run.index].response = response;
  return response;
}

void SimAlerts::abortModal() {
  if (runs_.empty() || runs_.back().response) return;
  runs_.back().response = kModalResponseAbort;
  mainQueue().stopModal();
}

void SimAlerts::scriptPress(double at, std::string button) {
  script.emplace(at, std::move(button));
}

bool SimAlerts::press(const std::string& button) {
  if (runs_.empty() || runs_.back().response) return false;
  const auto& buttons = shown[runs_.back().index].content.buttons;
  auto it = std::find(buttons.begin(), buttons.end(), button);
  if (it == buttons.end()) return false;
  runs_.back().response = kAlertFirstButtonReturn + (it - buttons.begin());
  mainQueue().stopModal();
  return true;
}

namespace {

// "alerts": {"script": [{"at": seconds after the scenario is loaded,
// "button": title (default "OK")}]}. Reports the alerts shown and whether
// one runs.
const SectionRegistrar kAlertsSection{checkedSection(
    "alerts",
    [](const Value& value, SimDesktop* desktop) -> std::string {
      SectionFields fields(value, "");
      const ValueList* script = fields.list("script");
      if (!fields.ok()) return fields.error();
      std::vector<std::pair<double, std::string>> presses;
      for (size_t i = 0; script && i < script->size(); ++i) {
        std::string where = "script[";
        where += std::to_string(i);
        where += "]";
        const Value& entry = (*script)[i];
        SectionFields press(entry, where);
        std::optional<double> at;
        if (const Value* v = entry.at("at")) {
          if (auto d = v->asDouble()) at = *d;
          if (auto n = v->asInt()) at = static_cast<double>(*n);
          if (press.ok() && at && !(std::isfinite(*at) && *at >= 0 && *at <= kMaxScriptedDelay)) {
            press.fail("at", "a number of seconds from 0 to " + describeNumber(kMaxScriptedDelay) +
                                 ", got " + describeNumber(*at));
          }
        }
        if (press.ok() && !at) press.fail("at", "a number");
        auto button = press.string("button");
        if (!press.ok()) return press.error();
        presses.emplace_back(*at, button.value_or("OK"));
      }
      if (!desktop) return "";
      auto& alerts = desktop->alerts();
      alerts.script.clear();
      for (auto& [at, button] : presses) alerts.scriptPress(mainQueue().now() + at, button);
      return "";
    },
    [](SimDesktop& desktop) -> Value {
      auto& alerts = desktop.alerts();
      ValueList shown;
      for (auto& s : alerts.shown) {
        ValueList buttons;
        for (auto& b : s.content.buttons) buttons.push_back(Value(b));
        ValueMap m{{"style", s.content.style},
                   {"messageText", s.content.messageText},
                   {"informativeText", s.content.informativeText},
                   {"buttons", buttons}};
        m.set("response", s.response ? Value(static_cast<long long>(*s.response)) : Value());
        shown.push_back(m);
      }
      return ValueMap{{"shown", shown}, {"running", alerts.running()}};
    })};

// "pressAlertButton": {"button": title, default "OK"}: presses a button of
// the alert that runs now. Answers whether it did.
const ActionRegistrar kPressAlertButton{{
    "pressAlertButton",
    [](const Value& arguments, SimDesktop& desktop, FlutterResult result) {
      auto button = arguments.argumentsOrEmpty().stringAt("button").value_or("OK");
      result(Value(desktop.alerts().press(button)));
    },
}};

}  // namespace

}  // namespace dravel::sim
