// Scenario sections of this process and its surroundings: "process",
// "permissions", "runningApplications" and "application".
#include <climits>

#include "platform/sim/scenario_registry.h"
#include "platform/sim/section_fields.h"
#include "platform/sim/sim_desktop.h"

namespace dravel::sim {
namespace {

std::optional<int> processId(SectionFields& fields, const char* key) {
  auto pid = fields.integer(key);
  if (!pid) return std::nullopt;
  if (*pid < 0 || *pid > INT_MAX) {
    fields.fail(key, "a process id from 0 to " + std::to_string(INT_MAX));
    return std::nullopt;
  }
  return static_cast<int>(*pid);
}

// {"pid": int, "bundleIdentifier": string or null, "environment": {name: value}}
std::string loadProcess(const Value& value, SimDesktop* desktop) {
  SectionFields fields(value, "");
  const SimProcessInfo defaults;
  auto pid = processId(fields, "pid");
  auto bundle = fields.nullableString("bundleIdentifier");
  const ValueMap* environment = fields.map("environment");
  std::map<std::string, std::string> env;
  if (environment) {
    for (const auto& [name, v] : *environment) {
      const std::string* text = v.asString();
      if (!text) {
        fields.fail("environment." + *name.asString(), "a string");
        break;
      }
      env[*name.asString()] = *text;
    }
  }
  if (!fields.ok() || !desktop) return fields.error();
  SimProcessInfo& info = desktop->processInfo();
  info.pid = pid.value_or(defaults.pid);
  info.bundleId = bundle ? *bundle : defaults.bundleId;
  info.environment = std::move(env);
  return {};
}

Value processState(SimDesktop& desktop) {
  SimProcessInfo& info = desktop.processInfo();
  ValueMap environment;
  for (const auto& [name, v] : info.environment) environment.set(name, Value(v));
  ValueMap state;
  state.set("pid", Value(info.pid));
  state.set("bundleIdentifier", info.bundleId ? Value(*info.bundleId) : Value());
  state.set("environment", Value(std::move(environment)));
  return Value(std::move(state));
}

// {"screenRecording": bool, "grantOnRequest": bool, "promptSeconds": number or null}
std::string loadPermissions(const Value& value, SimDesktop* desktop) {
  SectionFields fields(value, "");
  const SimScreenCaptureAccess defaults;
  auto granted = fields.boolean("screenRecording");
  auto grantOnRequest = fields.boolean("grantOnRequest");
  std::optional<double> promptSeconds;
  if (const Value* prompt = value.at("promptSeconds"); fields.ok() && prompt && !prompt->isNull()) {
    std::string why;
    promptSeconds = boundedNumber(*prompt, "promptSeconds", 0, kMaxScriptedDelay, false, why);
    if (!promptSeconds) return why;
  }
  if (!fields.ok() || !desktop) return fields.error();
  SimScreenCaptureAccess& access = desktop->screenCaptureAccess();
  access.granted = granted.value_or(defaults.granted);
  access.grantOnRequest = grantOnRequest.value_or(defaults.grantOnRequest);
  access.promptSeconds = promptSeconds;
  return {};
}

Value permissionsState(SimDesktop& desktop) {
  SimScreenCaptureAccess& access = desktop.screenCaptureAccess();
  ValueMap state;
  state.set("screenRecording", Value(access.granted));
  state.set("grantOnRequest", Value(access.grantOnRequest));
  state.set("promptSeconds", access.promptSeconds ? Value(*access.promptSeconds) : Value());
  state.set("preflights", Value(access.preflights));
  state.set("requests", Value(access.requests));
  return Value(std::move(state));
}

// [{"pid": int, "bundleIdentifier": string or null, "bundlePath": string or
// null, "name": string}, ...]
std::string loadRunningApplications(const Value& value, SimDesktop* desktop) {
  const ValueList* list = value.asList();
  if (!list) return "expected a list";
  std::vector<RunningApplication> apps;
  for (size_t i = 0; i < list->size(); ++i) {
    // Built by appending: GCC 12 warns falsely on "literal" + std::string&&.
    std::string where = "[";
    where += std::to_string(i);
    where += "]";
    SectionFields fields((*list)[i], where);
    RunningApplication app;
    auto pid = processId(fields, "pid");
    if (fields.ok() && !pid) fields.fail("pid", "a process id");
    auto bundle = fields.nullableString("bundleIdentifier");
    auto path = fields.nullableString("bundlePath");
    auto name = fields.string("name");
    if (!fields.ok()) return fields.error();
    app.processIdentifier = *pid;
    if (bundle) app.bundleIdentifier = *bundle;
    if (path) app.bundlePath = *path;
    app.localizedName = name.value_or("");
    apps.push_back(std::move(app));
  }
  if (desktop) desktop->runningApplications().apps = std::move(apps);
  return {};
}

Value runningApplicationsState(SimDesktop& desktop) {
  ValueList list;
  for (const RunningApplication& app : desktop.runningApplications().apps) {
    ValueMap entry;
    entry.set("pid", Value(app.processIdentifier));
    entry.set("bundleIdentifier", app.bundleIdentifier ? Value(*app.bundleIdentifier) : Value());
    entry.set("bundlePath", app.bundlePath ? Value(*app.bundlePath) : Value());
    entry.set("name", Value(app.localizedName));
    list.push_back(Value(std::move(entry)));
  }
  return Value(std::move(list));
}

// {"activationPolicy": 0 regular, 1 accessory, 2 prohibited, "hidden": bool,
//  "otherCopyRunning": bool (a copy that takes a sandboxed launch)}
std::string loadApplication(const Value& value, SimDesktop* desktop) {
  SectionFields fields(value, "");
  auto policy = fields.integer("activationPolicy");
  if (policy && (*policy < kActivationPolicyRegular || *policy > kActivationPolicyProhibited)) {
    fields.fail("activationPolicy", "0 (regular), 1 (accessory) or 2 (prohibited)");
  }
  auto hidden = fields.boolean("hidden");
  auto otherCopy = fields.boolean("otherCopyRunning");
  if (!fields.ok() || !desktop) return fields.error();
  SimApplication& application = desktop->application();
  application.policy = static_cast<int>(policy.value_or(kActivationPolicyRegular));
  application.hidden = hidden.value_or(false);
  application.otherCopyRunning = otherCopy.value_or(false);
  return {};
}

Value applicationState(SimDesktop& desktop) {
  SimApplication& application = desktop.application();
  ValueMap state;
  state.set("activationPolicy", Value(application.policy));
  state.set("hidden", Value(application.hidden));
  state.set("activations", Value(application.activations));
  state.set("handOverAttempts", Value(application.handOverAttempts));
  return Value(std::move(state));
}

const SectionRegistrar processSection{checkedSection("process", loadProcess, processState, 10)};
const SectionRegistrar permissionsSection{
    checkedSection("permissions", loadPermissions, permissionsState, 10)};
const SectionRegistrar runningApplicationsSection{
    checkedSection("runningApplications", loadRunningApplications, runningApplicationsState, 10)};
const SectionRegistrar applicationSection{
    checkedSection("application", loadApplication, applicationState, 10)};

}  // namespace
}  // namespace dravel::sim
