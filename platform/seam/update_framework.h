// The in-app update framework. It is linked weakly: a build may not carry it,
// so the host looks its controller class up by name before using it.
#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>

namespace dravel {

inline constexpr const char* kStandardUpdaterControllerClass = "SPUStandardUpdaterController";

class Updater;

// Answers the framework's questions; held weakly by the controller.
class UpdaterDelegate {
 public:
  virtual ~UpdaterDelegate() = default;
  // Update channels the updater may use besides the default one.
  virtual std::set<std::string> allowedChannelsForUpdater(Updater& updater) = 0;
};

class Updater {
 public:
  virtual ~Updater() = default;
  // Starts the updater: true on success, else false with `error` filled in.
  virtual bool startUpdater(std::string& error) = 0;
  // The address of the update feed, absent when none is configured.
  virtual std::optional<std::string> feedURL() const = 0;
  virtual bool canCheckForUpdates() const = 0;
};

// The framework's standard updater controller.
class UpdaterController {
 public:
  virtual ~UpdaterController() = default;
  virtual Updater& updater() = 0;
  // A check on the user's request; it runs inside the framework.
  virtual void checkForUpdates() = 0;
};

class UpdateFramework {
 public:
  virtual ~UpdateFramework() = default;
  // Whether a class of the framework is loaded in the process.
  virtual bool classNamed(const std::string& className) = 0;
  // The standard controller; its updater is started now only when
  // `startingUpdater` is true. Null when the framework is not loaded.
  virtual std::unique_ptr<UpdaterController> makeStandardUpdaterController(
      bool startingUpdater, std::weak_ptr<UpdaterDelegate> updaterDelegate) = 0;
  // Where the desktop takes its updates from when they never come through
  // the framework (a package manager), for the log to say so; empty where
  // the framework would serve a build that carried it.
  virtual std::string updatesComeFrom() const { return ""; }
};

}  // namespace dravel
