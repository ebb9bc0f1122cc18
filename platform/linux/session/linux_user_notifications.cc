#include "platform/linux/session/linux_user_notifications.h"

#include <gio/gio.h>

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

#include "channels/log.h"
#include "channels/main_queue.h"
#include "platform/linux/session/desktop_portal.h"
#include "platform/linux/session/linux_process_info.h"

namespace dravel::linux_platform {

namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kDefaultAction = "default";
constexpr const char* kPortalInterface = "org.freedesktop.portal.Notification";
// The portal's default action: without the "app." prefix, so that the portal
// sends its ActionInvoked signal to the application.
constexpr const char* kPortalDefaultAction = "open";

std::string describe(const GError* error) {
  return error ? error->message : "unknown error";
}

}  // namespace

struct DesktopNotificationCenter::State : std::enable_shared_from_this<State> {
  std::string applicationId;
  std::function<void()> bringForward;
  int timeoutMs = 0;
  bool portal = false;
  // What the portal shows, by identifier.
  std::map<std::string, NotificationRequest> portalShown;
  UserNotificationCenterDelegate** delegate = nullptr;  // the centre's member; null once gone

  GDBusConnection* bus = nullptr;
  bool connecting = false;
  std::vector<std::function<void(GDBusConnection*, const std::string& error)>> waiting;
  guint actionSubscription = 0;
  guint closedSubscription = 0;
  guint watch = 0;
  bool loggedNoActions = false;

  // The service's id of each identifier, and what was sent under each id.
  std::map<std::string, uint32_t> idOf;
  std::map<uint32_t, NotificationRequest> sent;
  // The identifiers whose notification is on its way to the service, each
  // with the newest one that waits for it.
  struct Waiting {
    NotificationRequest request;
    std::vector<AddCompletion> completions;
  };
  std::map<std::string, std::optional<Waiting>> onTheWay;

  ~State() {
    if (watch) g_bus_unwatch_name(watch);
    if (bus) {
      if (actionSubscription) g_dbus_connection_signal_unsubscribe(bus, actionSubscription);
      if (closedSubscription) g_dbus_connection_signal_unsubscribe(bus, closedSubscription);
      g_object_unref(bus);
    }
  }

  // Runs `then` with the connection once it exists and listens (on the main
  // thread), or with an error when there is no session bus.
  void withBus(std::function<void(GDBusConnection*, const std::string& error)> then) {
    if (bus) {
      then(bus, "");
      return;
    }
    waiting.push_back(std::move(then));
    if (connecting) return;
    connecting = true;
    auto* self = new std::weak_ptr<State>(shared_from_this());
    g_bus_get(
        G_BUS_TYPE_SESSION, nullptr,
        [](GObject*, GAsyncResult* result, gpointer data) {
          std::unique_ptr<std::weak_ptr<State>> weak(static_cast<std::weak_ptr<State>*>(data));
          GError* error = nullptr;
          GDBusConnection* connection = g_bus_get_finish(result, &error);
          std::shared_ptr<State> state = weak->lock();
          if (!state) {
            if (connection) g_object_unref(connection);
            g_clear_error(&error);
            return;
          }
          state->connected(connection, connection ? "" : describe(error));
          g_clear_error(&error);
        },
        self);
  }

  void connected(GDBusConnection* connection, const std::string& error) {
    connecting = false;
    if (connection) {
      bus = connection;
      listen();
    }
    std::vector<std::function<void(GDBusConnection*, const std::string&)>> ready;
    ready.swap(waiting);
    for (auto& then : ready) then(bus, error);
  }

  void listen() {
    if (portal) {
      listenToPortal();
      return;
    }
    // The signals' user data is this state, which unsubscribes before it goes.
    actionSubscription = g_dbus_connection_signal_subscribe(
        bus, kService, kService, "ActionInvoked", kPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
           GVariant* parameters, gpointer data) {
          if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) return;
          guint32 id = 0;
          const gchar* action = nullptr;
          g_variant_get(parameters, "(u&s)", &id, &action);
          static_cast<State*>(data)->actionInvoked(id, action);
        },
        this, nullptr);
    closedSubscription = g_dbus_connection_signal_subscribe(
        bus, kService, kService, "NotificationClosed", kPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
           GVariant* parameters, gpointer data) {
          if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(uu)"))) return;
          guint32 id = 0;
          guint32 reason = 0;
          g_variant_get(parameters, "(uu)", &id, &reason);
          static_cast<State*>(data)->closed(id);
        },
        this, nullptr);
    // Ids belong to one run of the service: a new owner starts afresh.
    watch = g_bus_watch_name_on_connection(
        bus, kService, G_BUS_NAME_WATCHER_FLAGS_NONE, nullptr,
        [](GDBusConnection*, const gchar*, gpointer data) {
          auto* self = static_cast<State*>(data);
          if (!self->idOf.empty()) {
            NSLog("[notifications] the notification service went away; %zu shown forgotten",
                  self->idOf.size());
          }
          self->idOf.clear();
          self->sent.clear();
        },
        this, nullptr);
  }

  void listenToPortal() {
    actionSubscription = g_dbus_connection_signal_subscribe(
        bus, kPortalService, kPortalInterface, "ActionInvoked", kPortalPath, nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
           GVariant* parameters, gpointer data) {
          if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ssav)"))) return;
          const gchar* id = nullptr;
          const gchar* action = nullptr;
          g_variant_get(parameters, "(&s&s@av)", &id, &action, nullptr);
          static_cast<State*>(data)->portalActionInvoked(id, action);
        },
        this, nullptr);
  }

  void portalActionInvoked(const std::string& id, const std::string& action) {
    auto found = portalShown.find(id);
    if (found == portalShown.end() || action != kPortalDefaultAction) return;
    NotificationRequest request = std::move(found->second);
    portalShown.erase(found);
    // Answered: the notification has done its work.
    g_dbus_connection_call(bus, kPortalService, kPortalPath, kPortalInterface, "RemoveNotification",
                           g_variant_new("(s)", id.c_str()), nullptr, G_DBUS_CALL_FLAGS_NONE,
                           timeoutMs, nullptr, nullptr, nullptr);
    answered(std::move(request));
  }

  void actionInvoked(uint32_t id, const std::string& action) {
    auto found = sent.find(id);
    if (found == sent.end() || action != kDefaultAction) return;
    answered(found->second);
  }

  // A click on a notification: the application comes forward and the
  // delegate hears of it.
  void answered(NotificationRequest request) {
    if (bringForward) bringForward();
    UserNotificationCenterDelegate* target = delegate ? *delegate : nullptr;
    if (!target) {
      NSLog("[notifications] a click on %s came back with no one to tell",
            request.identifier.c_str());
      return;
    }
    target->didReceiveResponse({kNotificationDefaultActionIdentifier, std::move(request)}, [] {});
  }

  void closed(uint32_t id) {
    auto found = sent.find(id);
    if (found == sent.end()) return;
    auto mapped = idOf.find(found->second.identifier);
    if (mapped != idOf.end() && mapped->second == id) idOf.erase(mapped);
    sent.erase(found);
  }

  // Calls a method of the service; `done` gets the reply or the error text.
  void call(const char* method, GVariant* parameters, const char* replyType,
            std::function<void(GVariant* reply, const std::string& error)> done) {
    callOn(kService, kPath, kService, method, parameters, replyType, std::move(done));
  }

  void callOn(const char* service, const char* path, const char* interface, const char* method,
              GVariant* parameters, const char* replyType,
              std::function<void(GVariant* reply, const std::string& error)> done) {
    struct Pending {
      std::function<void(GVariant*, const std::string&)> done;
    };
    g_dbus_connection_call(
        bus, service, path, interface, method, parameters, G_VARIANT_TYPE(replyType),
        G_DBUS_CALL_FLAGS_NONE, timeoutMs, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
          std::unique_ptr<Pending> pending(static_cast<Pending*>(data));
          GError* error = nullptr;
          GVariant* reply =
              g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
          pending->done(reply, reply ? "" : describe(error));
          if (reply) g_variant_unref(reply);
          g_clear_error(&error);
        },
        new Pending{std::move(done)});
  }

  void authorize(AuthorizationCompletion completion) {
    withBus([self = shared_from_this(), completion = std::move(completion)](
                GDBusConnection* connection, const std::string& error) mutable {
      if (!connection) {
        completion(false, NotificationError{"No session bus: " + error});
        return;
      }
      if (self->portal) {
        self->callOn(kPortalService, kPortalPath, "org.freedesktop.DBus.Properties", "Get",
                     g_variant_new("(ss)", kPortalInterface, "version"), "(v)",
                     [completion = std::move(completion)](GVariant* reply,
                                                          const std::string& failure) mutable {
                       if (!reply) {
                         completion(false,
                                    NotificationError{"The notification portal does not answer: " +
                                                      failure});
                         return;
                       }
                       completion(true, std::nullopt);
                     });
        return;
      }
      self->call("GetServerInformation", nullptr, "(ssss)",
                 [self, completion = std::move(completion)](GVariant* reply,
                                                            const std::string& failure) mutable {
                   if (!reply) {
                     completion(false, NotificationError{
                                           "The notification service does not answer: " + failure});
                     return;
                   }
                   self->checkActions();
                   completion(true, std::nullopt);
                 });
    });
  }

  void checkActions() {
    if (loggedNoActions) return;
    call("GetCapabilities", nullptr, "(as)",
         [self = shared_from_this()](GVariant* reply, const std::string&) {
           if (!reply || self->loggedNoActions) return;
           GVariantIter* capabilities = nullptr;
           g_variant_get(reply, "(as)", &capabilities);
           bool actions = false;
           const gchar* capability = nullptr;
           while (g_variant_iter_loop(capabilities, "&s", &capability)) {
             if (g_strcmp0(capability, "actions") == 0) actions = true;
           }
           g_variant_iter_free(capabilities);
           if (!actions) {
             self->loggedNoActions = true;
             NSLog(
                 "[notifications] the notification service offers no actions: clicks on "
                 "notifications cannot come back");
           }
         });
  }

  void add(NotificationRequest request, AddCompletion completion) {
    withBus([self = shared_from_this(), request = std::move(request),
             completion = std::move(completion)](GDBusConnection* connection,
                                                 const std::string& error) mutable {
      if (!connection) {
        completion(NotificationError{"No session bus: " + error});
        return;
      }
      if (self->portal) {
        self->addToPortal(std::move(request), std::move(completion));
        return;
      }
      // While a notification of this identifier is on its way, the service's
      // id for it is not known yet: a later one waits for it, so that it
      // replaces the earlier instead of showing beside it. Of several that
      // wait, the newest goes; the others are answered with it.
      auto out = self->onTheWay.find(request.identifier);
      if (out != self->onTheWay.end()) {
        std::optional<Waiting>& held = out->second;
        if (!held) held.emplace();
        held->request = std::move(request);
        held->completions.push_back(std::move(completion));
        return;
      }
      self->onTheWay.emplace(request.identifier, std::nullopt);
      std::vector<AddCompletion> completions;
      completions.push_back(std::move(completion));
      self->notify(std::move(request), std::move(completions));
    });
  }

  // The portal replaces a notification of the same identifier itself.
  void addToPortal(NotificationRequest request, AddCompletion completion) {
    GVariantBuilder notification;
    g_variant_builder_init(&notification, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&notification, "{sv}", "title",
                          g_variant_new_string(request.title.c_str()));
    g_variant_builder_add(&notification, "{sv}", "body",
                          g_variant_new_string(request.body.c_str()));
    g_variant_builder_add(&notification, "{sv}", "default-action",
                          g_variant_new_string(kPortalDefaultAction));
    const std::string identifier = request.identifier;
    callOn(
        kPortalService, kPortalPath, kPortalInterface, "AddNotification",
        g_variant_new("(sa{sv})", identifier.c_str(), &notification), "()",
        [self = shared_from_this(), request = std::move(request),
         completion = std::move(completion)](GVariant* reply, const std::string& failure) mutable {
          if (!reply) {
            completion(NotificationError{"The notification was not shown: " + failure});
            return;
          }
          const std::string shown = request.identifier;
          self->portalShown[shown] = std::move(request);
          completion(std::nullopt);
        });
  }

  // Sends one notification, its identifier marked on its way.
  void notify(NotificationRequest request, std::vector<AddCompletion> completions) {
    auto previous = idOf.find(request.identifier);
    const uint32_t replaces = previous == idOf.end() ? 0 : previous->second;
    GVariantBuilder actions;
    g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
    g_variant_builder_add(&actions, "s", kDefaultAction);
    g_variant_builder_add(&actions, "s", "Open");
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&hints, "{sv}", "desktop-entry",
                          g_variant_new_string(applicationId.c_str()));
    if (request.sound) {
      g_variant_builder_add(&hints, "{sv}", "sound-name",
                            g_variant_new_string("message-new-instant"));
    } else {
      g_variant_builder_add(&hints, "{sv}", "suppress-sound", g_variant_new_boolean(TRUE));
    }
    GVariant* parameters =
        g_variant_new("(susssasa{sv}i)", "Dravel", replaces, applicationId.c_str(),
                      request.title.c_str(), request.body.c_str(), &actions, &hints, -1);
    call("Notify", parameters, "(u)",
         [self = shared_from_this(), request = std::move(request),
          completions = std::move(completions)](GVariant* reply,
                                                const std::string& failure) mutable {
           const std::string identifier = request.identifier;
           std::optional<NotificationError> outcome;
           if (!reply) {
             outcome = NotificationError{"The notification was not shown: " + failure};
           } else {
             guint32 id = 0;
             g_variant_get(reply, "(u)", &id);
             // What an earlier id of this identifier held is replaced.
             auto earlier = self->idOf.find(identifier);
             if (earlier != self->idOf.end() && earlier->second != id) {
               self->sent.erase(earlier->second);
             }
             self->idOf[identifier] = id;
             self->sent[id] = std::move(request);
           }
           for (AddCompletion& done : completions) done(outcome);
           // The newest that waited goes now, with the id just learnt.
           auto out = self->onTheWay.find(identifier);
           if (out == self->onTheWay.end()) return;
           if (!out->second) {
             self->onTheWay.erase(out);
             return;
           }
           Waiting next = std::move(*out->second);
           out->second.reset();
           self->notify(std::move(next.request), std::move(next.completions));
         });
  }
};

DesktopNotificationCenter::DesktopNotificationCenter(std::string applicationId,
                                                     std::function<void()> bringForward,
                                                     int timeoutMs)
    : DesktopNotificationCenter(std::move(applicationId), std::move(bringForward), timeoutMs,
                                runningInFlatpak()) {}

DesktopNotificationCenter::DesktopNotificationCenter(std::string applicationId,
                                                     std::function<void()> bringForward,
                                                     int timeoutMs, bool sandboxed)
    : state_(std::make_shared<State>()) {
  state_->portal = sandboxed;
  state_->applicationId = std::move(applicationId);
  state_->bringForward = std::move(bringForward);
  state_->timeoutMs = timeoutMs;
  state_->delegate = &delegate_;
}

DesktopNotificationCenter::~DesktopNotificationCenter() {
  state_->delegate = nullptr;
}

void DesktopNotificationCenter::requestAuthorizationWithOptions(
    int, AuthorizationCompletion completion) {
  mainQueue().async([state = state_, completion = std::move(completion)]() mutable {
    state->authorize(std::move(completion));
  });
}

void DesktopNotificationCenter::addNotificationRequest(NotificationRequest request,
                                                       AddCompletion completion) {
  mainQueue().async(
      [state = state_, request = std::move(request), completion = std::move(completion)]() mutable {
        state->add(std::move(request), std::move(completion));
      });
}

}  // namespace dravel::linux_platform
