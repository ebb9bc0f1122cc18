#include "platform/sim/sim_update_framework.h"

#include "platform/sim/scenario_registry.h"
#include "platform/sim/section_fields.h"
#include "platform/sim/sim_desktop.h"

namespace dravel::sim {

class SimUpdater : public Updater {
 public:
  explicit SimUpdater(std::weak_ptr<SimUpdateFramework*> framework)
      : framework_(std::move(framework)) {}

  bool startUpdater(std::string& error) override {
    SimUpdateFramework* fw = framework();
    if (!fw) {
      error = "The update framework is gone.";
      return false;
    }
    if (fw->startError) {
      error = *fw->startError;
      return false;
    }
    started = true;
    return true;
  }
  std::optional<std::string> feedURL() const override {
    SimUpdateFramework* fw = framework();
    return fw ? fw->feedURL : std::nullopt;
  }
  bool canCheckForUpdates() const override {
    SimUpdateFramework* fw = framework();
    return started && fw && fw->canCheck;
  }

  bool started = false;

 private:
  SimUpdateFramework* framework() const {
    auto p = framework_.lock();
    return p ? *p : nullptr;
  }
  std::weak_ptr<SimUpdateFramework*> framework_;
};

class SimUpdaterController : public UpdaterController {
 public:
  SimUpdaterController(std::weak_ptr<SimUpdateFramework*> framework,
                       std::weak_ptr<UpdaterDelegate> delegate)
      : framework_(framework), delegate_(std::move(delegate)), updater_(framework) {
    if (auto fw = framework_.lock()) (*fw)->live_ = this;
  }
  ~SimUpdaterController() override {
    if (auto fw = framework_.lock())
      if ((*fw)->live_ == this) (*fw)->live_ = nullptr;
  }

  Updater& updater() override { return updater_; }
  void checkForUpdates() override {
    auto fw = framework_.lock();
    if (!fw) return;
    if ((*fw)->onCheck) (*fw)->onCheck();
    (*fw)->checks.push_back(allowedChannels().value_or(std::set<std::string>{}));
  }

  std::optional<std::set<std::string>> allowedChannels() {
    auto delegate = delegate_.lock();
    if (!delegate) return std::nullopt;
    return delegate->allowedChannelsForUpdater(updater_);
  }
  bool started() const { return updater_.started; }

 private:
  std::weak_ptr<SimUpdateFramework*> framework_;
  std::weak_ptr<UpdaterDelegate> delegate_;
  SimUpdater updater_;
};

SimUpdateFramework::SimUpdateFramework() : self_(std::make_shared<SimUpdateFramework*>(this)) {}
SimUpdateFramework::~SimUpdateFramework() = default;

bool SimUpdateFramework::classNamed(const std::string& className) {
  classLookups.push_back(className);
  return bundled && className == kStandardUpdaterControllerClass;
}

std::unique_ptr<UpdaterController> SimUpdateFramework::makeStandardUpdaterController(
    bool startingUpdater, std::weak_ptr<UpdaterDelegate> updaterDelegate) {
  if (!bundled) return nullptr;
  ++controllersMade;
  lastStartingUpdater = startingUpdater;
  auto controller = std::make_unique<SimUpdaterController>(self_, std::move(updaterDelegate));
  if (startingUpdater) {
    std::string ignored;
    controller->updater().startUpdater(ignored);
  }
  return controller;
}

std::optional<std::set<std::string>> SimUpdateFramework::allowedChannels() {
  return live_ ? live_->allowedChannels() : std::nullopt;
}

bool SimUpdateFramework::started() const {
  return live_ && live_->started();
}

namespace {

Value stringsValue(const std::set<std::string>& strings) {
  ValueList list;
  for (auto& s : strings) list.push_back(Value(s));
  return list;
}

// "updater": {"bundled": bool, "startError": text or null, "feedURL": text or
// null, "canCheck": bool}. Read by the host when it starts.
const SectionRegistrar kUpdaterSection{checkedSection(
    "updater",
    [](const Value& value, SimDesktop* desktop) -> std::string {
      SectionFields fields(value, "");
      auto bundled = fields.boolean("bundled");
      auto startError = fields.nullableString("startError");
      auto feedURL = fields.nullableString("feedURL");
      auto canCheck = fields.boolean("canCheck");
      if (!fields.ok() || !desktop) return fields.error();
      auto& fw = desktop->updateFramework();
      fw.bundled = bundled.value_or(true);
      fw.startError = startError.value_or(std::nullopt);
      fw.feedURL = feedURL.value_or(std::nullopt);
      fw.canCheck = canCheck.value_or(true);
      fw.checks.clear();
      return "";
    },
    [](SimDesktop& desktop) -> Value {
      auto& fw = desktop.updateFramework();
      ValueList checks;
      for (auto& allowed : fw.checks) checks.push_back(stringsValue(allowed));
      auto allowed = fw.allowedChannels();
      ValueMap m{{"bundled", fw.bundled},
                 {"canCheck", fw.canCheck},
                 {"controllersMade", fw.controllersMade},
                 {"started", fw.started()},
                 {"checks", checks}};
      m.set("startError", fw.startError ? Value(*fw.startError) : Value());
      m.set("feedURL", fw.feedURL ? Value(*fw.feedURL) : Value());
      m.set("allowedChannels", allowed ? stringsValue(*allowed) : Value());
      return m;
    })};

}  // namespace

}  // namespace dravel::sim
