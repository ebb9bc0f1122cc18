// Small simulated services: pasteboard, workspace, screen-recording
// permission and process information.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

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

  bool granted = true;
  bool grantOnRequest = false;
  int preflights = 0;
  int requests = 0;
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
