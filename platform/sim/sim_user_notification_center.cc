#include "platform/sim/sim_user_notification_center.h"

#include <algorithm>

#include "channels/main_queue.h"
#include "platform/sim/scenario_registry.h"
#include "platform/sim/section_fields.h"
#include "platform/sim/sim_desktop.h"

namespace dravel::sim {

SimUserNotificationCenter::SimUserNotificationCenter() = default;

SimUserNotificationCenter::~SimUserNotificationCenter() {
  {
    std::lock_guard<std::mutex> lock(workMutex_);
    stopping_ = true;
  }
  workReady_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void SimUserNotificationCenter::post(std::function<void()> work) {
  {
    std::lock_guard<std::mutex> lock(workMutex_);
    work_.push_back(std::move(work));
    if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
  }
  workReady_.notify_all();
}

void SimUserNotificationCenter::run() {
  for (;;) {
    std::function<void()> work;
    {
      std::unique_lock<std::mutex> lock(workMutex_);
      workReady_.wait(lock, [this] { return stopping_ || !work_.empty(); });
      // Work already handed over still runs, so no completion is lost.
      if (work_.empty()) return;
      work = std::move(work_.front());
      work_.pop_front();
    }
    work();
  }
}

void SimUserNotificationCenter::requestAuthorizationWithOptions(
    int options, AuthorizationCompletion completion) {
  bool granted;
  std::optional<NotificationError> error;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Requests come from the main thread: note its queue for the delegate
    // calls that the centre's thread starts.
    queue_ = &mainQueue();
    authorizationRequests_.push_back(options);
    granted = settings_.granted;
    if (settings_.authorizationError) error = NotificationError{*settings_.authorizationError};
  }
  post([completion = std::move(completion), granted, error] { completion(granted, error); });
}

void SimUserNotificationCenter::addNotificationRequest(NotificationRequest request,
                                                       AddCompletion completion) {
  std::optional<NotificationError> error;
  bool present = false;
  MainQueue* queue = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++addRequests_;
    queue = queue_;
    if (settings_.refuseRequests) {
      error = NotificationError{*settings_.refuseRequests};
    } else {
      // The same identifier takes the place of the notification on screen.
      std::erase_if(delivered_,
                    [&](const Delivered& d) { return d.request.identifier == request.identifier; });
      delivered_.push_back({request, std::nullopt});
      present = settings_.applicationActive && queue;
    }
  }
  if (present) {
    // The centre asks its delegate on the main thread.
    std::weak_ptr<int> alive = alive_;
    queue->async([this, alive, request] {
      if (!alive.lock() || !delegate_) return;
      delegate_->willPresentNotification(request,
                                         [this, alive, id = request.identifier](int options) {
                                           if (!alive.lock()) return;
                                           std::lock_guard<std::mutex> lock(mutex_);
                                           for (auto& d : delivered_)
                                             if (d.request.identifier == id)
                                               d.presentation = options;
                                         });
    });
  }
  post([completion = std::move(completion), error] { completion(error); });
}

void SimUserNotificationCenter::configure(const Settings& settings) {
  std::lock_guard<std::mutex> lock(mutex_);
  settings_ = settings;
}

SimUserNotificationCenter::Settings SimUserNotificationCenter::settings() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return settings_;
}

std::vector<SimUserNotificationCenter::Delivered> SimUserNotificationCenter::delivered() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return delivered_;
}

std::vector<int> SimUserNotificationCenter::authorizationRequests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return authorizationRequests_;
}

int SimUserNotificationCenter::addRequests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return addRequests_;
}

void SimUserNotificationCenter::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  delivered_.clear();
  authorizationRequests_.clear();
  addRequests_ = 0;
}

bool SimUserNotificationCenter::click(const std::string& identifier,
                                      const std::string& actionIdentifier) {
  std::optional<NotificationRequest> answered;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find_if(delivered_.begin(), delivered_.end(),
                           [&](const Delivered& d) { return d.request.identifier == identifier; });
    if (it == delivered_.end()) return false;
    answered = it->request;
    delivered_.erase(it);
  }
  respond({actionIdentifier, *answered});
  return true;
}

void SimUserNotificationCenter::respond(const NotificationResponse& response) {
  ++responses;
  if (!delegate_) return;
  std::weak_ptr<int> alive = alive_;
  delegate_->didReceiveResponse(response, [this, alive] {
    if (alive.lock()) ++completedResponses;
  });
}

namespace {

Value requestValue(const SimUserNotificationCenter::Delivered& d) {
  ValueMap m{{"identifier", d.request.identifier},
             {"title", d.request.title},
             {"body", d.request.body},
             {"sound", d.request.sound},
             {"userInfo", d.request.userInfo}};
  m.set("presentation", d.presentation ? Value(*d.presentation) : Value());
  return m;
}

Value optionalString(const std::optional<std::string>& s) {
  return s ? Value(*s) : Value();
}

// "notifications": {"granted": bool, "authorizationError": text or null,
// "refuseRequests": text or null, "applicationActive": bool}.
const SectionRegistrar kNotificationsSection{checkedSection(
    "notifications",
    [](const Value& value, SimDesktop* desktop) -> std::string {
      SectionFields fields(value, "");
      auto granted = fields.boolean("granted");
      auto authorizationError = fields.nullableString("authorizationError");
      auto refuseRequests = fields.nullableString("refuseRequests");
      auto applicationActive = fields.boolean("applicationActive");
      if (!fields.ok() || !desktop) return fields.error();
      SimUserNotificationCenter::Settings s;
      s.granted = granted.value_or(s.granted);
      if (authorizationError) s.authorizationError = *authorizationError;
      if (refuseRequests) s.refuseRequests = *refuseRequests;
      s.applicationActive = applicationActive.value_or(s.applicationActive);
      desktop->userNotificationCenter().configure(s);
      desktop->userNotificationCenter().clear();
      return "";
    },
    [](SimDesktop& desktop) -> Value {
      auto& center = desktop.userNotificationCenter();
      auto s = center.settings();
      ValueList delivered;
      for (auto& d : center.delivered()) delivered.push_back(requestValue(d));
      ValueList requests;
      for (int options : center.authorizationRequests()) requests.push_back(Value(options));
      ValueMap m{{"granted", s.granted},
                 {"authorizationError", optionalString(s.authorizationError)},
                 {"refuseRequests", optionalString(s.refuseRequests)},
                 {"applicationActive", s.applicationActive},
                 {"delivered", delivered},
                 {"authorizationRequests", requests},
                 {"addRequests", center.addRequests()},
                 {"responses", center.responses},
                 {"completedResponses", center.completedResponses}};
      return m;
    })};

// "clickNotification": {"identifier": text} or {"id": text} (the identifier
// is then "dravel." and the id); "action": "default" (the click on the
// notification itself), "dismiss", or any action identifier. Answers whether
// a notification on screen was answered.
const ActionRegistrar kClickNotification{{
    "clickNotification",
    [](const Value& arguments, SimDesktop& desktop, FlutterResult result) {
      const Value args = arguments.argumentsOrEmpty();
      std::optional<std::string> identifier = args.stringAt("identifier");
      if (!identifier) {
        auto id = args.stringAt("id");
        if (!id) {
          result(FlutterError::errorWithCode("bad_args", "identifier or id expected"));
          return;
        }
        identifier = "dravel." + *id;
      }
      std::string action = args.stringAt("action").value_or("default");
      if (action == "default") action = kNotificationDefaultActionIdentifier;
      if (action == "dismiss") action = kNotificationDismissActionIdentifier;
      result(Value(desktop.userNotificationCenter().click(*identifier, action)));
    },
}};

}  // namespace

}  // namespace dravel::sim
