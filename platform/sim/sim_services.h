// Small simulated services: pasteboard, workspace, screen-recording
// permission and process information.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "channels/main_queue.h"
#include "platform/seam/pasteboard.h"
#include "platform/seam/process_info.h"
#include "platform/seam/screen_capture_access.h"
#include "platform/seam/workspace.h"

namespace dravel::sim {

class SimPasteboard : public Pasteboard {
 public:
  int64_t clearContents() override {
    contents.clear();
    return ++changeCount;
  }
  bool writeObjects(std::vector<PasteboardItem> items) override {
    ++writes;
    if (refuseWrites) return false;
    for (auto& item : items) contents.push_back(std::move(item));
    ++changeCount;
    return true;
  }
  // Promised representations are made when read, as a reader of a real
  // pasteboard would have them made; `contents` keeps them promised.
  std::vector<PasteboardItem> items() const override {
    std::vector<PasteboardItem> all;
    for (const PasteboardItem& item : contents) all.push_back(item.materialized());
    return all;
  }

  std::vector<PasteboardItem> contents;
  int64_t changeCount = 0;
  int writes = 0;
  bool refuseWrites = false;
};

class SimWorkspace : public Workspace {
 public:
  void activateFileViewerSelectingURLs(const std::vector<std::string>& urls) override {
    revealed.push_back(urls);
  }
  bool openURL(const std::string& url) override {
    openAttempts.push_back(url);
    if (unopenableURLs.count(url)) return false;
    opened.push_back(url);
    return true;
  }
  std::optional<int> frontmostApplicationPid() override { return frontmostPid; }

  std::vector<std::vector<std::string>> revealed;
  std::vector<std::string> openAttempts;
  std::vector<std::string> opened;
  std::map<std::string, bool> unopenableURLs;
  std::optional<int> frontmostPid;
};

class SimScreenCaptureAccess : public ScreenCaptureAccess {
 public:
  bool preflight() override {
    ++preflights;
    return granted;
  }
  bool request() override {
    ++requests;
    if (!granted && grantOnRequest) granted = true;
    return granted;
  }
  void requestAsync(std::function<void(bool granted)> done) override {
    if (!promptSeconds || granted) {
      done(request());
      return;
    }
    ask(std::move(done));
  }
  // A desktop that prompts knows its own prompt; otherwise the probe sees it.
  std::optional<bool> promptVisible() override {
    if (!promptSeconds) return std::nullopt;
    return visiblePrompts > 0;
  }
  // Whether a capture must ask first: a desktop that prompts, not granted.
  bool asksBeforeCapture() const { return promptSeconds && !granted; }
  // Shows the prompt for `promptSeconds`, then answers as request() does, on
  // the main thread. Main thread only.
  void ask(std::function<void(bool granted)> done) {
    ++visiblePrompts;
    std::weak_ptr<int> alive = alive_;
    mainQueue().asyncAfter(promptSeconds.value_or(0), [this, alive, done = std::move(done)] {
      if (!alive.lock()) return;
      --visiblePrompts;
      done(request());
    });
  }

  bool granted = true;
  bool grantOnRequest = false;
  // How long the desktop's prompt stays before its answer; none: no prompt.
  std::optional<double> promptSeconds;
  int visiblePrompts = 0;
  int preflights = 0;
  int requests = 0;

 private:
  std::shared_ptr<int> alive_ = std::make_shared<int>();
};

class SimProcessInfo : public ProcessInfo {
 public:
  int processIdentifier() override { return pid; }
  std::optional<std::string> bundleIdentifier() override { return bundleId; }
  std::optional<std::string> environmentValue(const std::string& name) override {
    auto it = environment.find(name);
    if (it == environment.end()) return std::nullopt;
    return it->second;
  }
  OperatingSystemVersion operatingSystemVersion() override { return osVersion; }

  int pid = 4100;
  std::optional<std::string> bundleId = std::string("app.dravel.Dravel");
  std::map<std::string, std::string> environment;
  OperatingSystemVersion osVersion{15, 0, 0};
};

}  // namespace dravel::sim
