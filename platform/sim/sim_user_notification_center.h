// The simulated notification centre: a permission decision, the list of
// notifications on screen, and the user's answers. Its completions run on a
// thread of its own, as the real centre's do; the delegate is called on the
// main thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "channels/main_queue.h"
#include "platform/seam/user_notification_center.h"

namespace dravel::sim {

class SimUserNotificationCenter : public UserNotificationCenter {
 public:
  SimUserNotificationCenter();
  // Runs what the centre's thread still holds, then joins it.
  ~SimUserNotificationCenter() override;
  SimUserNotificationCenter(const SimUserNotificationCenter&) = delete;
  SimUserNotificationCenter& operator=(const SimUserNotificationCenter&) = delete;

  void setDelegate(UserNotificationCenterDelegate* d) override { delegate_ = d; }
  UserNotificationCenterDelegate* delegate() const override { return delegate_; }
  void requestAuthorizationWithOptions(int options, AuthorizationCompletion completion) override;
  void addNotificationRequest(NotificationRequest request, AddCompletion completion) override;

  // How the centre answers. Safe from any thread.
  struct Settings {
    // The stored permission decision.
    bool granted = true;
    // An error that comes with every permission answer.
    std::optional<std::string> authorizationError;
    // When set, every request is refused with this error.
    std::optional<std::string> refuseRequests;
    // The application is frontmost: each delivered notification goes
    // through the delegate's presentation hook.
    bool applicationActive = false;
  };
  void configure(const Settings& settings);
  Settings settings() const;

  struct Delivered {
    NotificationRequest request;
    // The presentation options the delegate chose, when it was asked.
    std::optional<int> presentation;
  };
  // The notifications on screen, oldest first. Safe from any thread.
  std::vector<Delivered> delivered() const;
  // The options of every permission request so far.
  std::vector<int> authorizationRequests() const;
  int addRequests() const;
  // Forgets the notifications on screen and the counts.
  void clear();

  // The user answers the notification on screen with this identifier (a
  // click on it by default); it leaves the screen. False when there is none.
  // Main thread only.
  bool click(const std::string& identifier,
             const std::string& actionIdentifier = kNotificationDefaultActionIdentifier);
  // The user answers with a response made up by the caller (any user info).
  void respond(const NotificationResponse& response);
  // Answers handed to the delegate, and how many of those it completed.
  int responses = 0;
  int completedResponses = 0;

 private:
  void post(std::function<void()> work);
  void run();

  UserNotificationCenterDelegate* delegate_ = nullptr;
  // Tasks posted to the main queue check this token before touching the centre.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);

  mutable std::mutex mutex_;
  MainQueue* queue_ = nullptr;
  Settings settings_;
  std::vector<Delivered> delivered_;
  std::vector<int> authorizationRequests_;
  int addRequests_ = 0;

  std::mutex workMutex_;
  std::condition_variable workReady_;
  std::deque<std::function<void()>> work_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace dravel::sim
