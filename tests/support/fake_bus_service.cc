#include "tests/support/fake_bus_service.h"

#include <gio/gio.h>

#include <chrono>

namespace dravel::testing {

struct FakeBusService::State {
  Answer answer = Answer::kSucceed;
  std::vector<Call> calls;
  GDBusConnection* connection = nullptr;
  GDBusNodeInfo* node = nullptr;
  guint registration = 0;
  guint ownership = 0;
  int owned = 0;  // 1 owned, -1 lost
  std::vector<GDBusMethodInvocation*> unanswered;
};

namespace {

constexpr const char* kFileManagerInterface =
    "<node><interface name='org.freedesktop.FileManager1'>"
    "<method name='ShowItems'><arg type='as' direction='in'/>"
    "<arg type='s' direction='in'/></method>"
    "<method name='ShowFolders'><arg type='as' direction='in'/>"
    "<arg type='s' direction='in'/></method>"
    "</interface></node>";

void onMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                  GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
  auto* state = static_cast<FakeBusService::State*>(data);
  gchar* printed = g_variant_print(parameters, FALSE);
  state->calls.push_back({method, printed});
  g_free(printed);
  switch (state->answer) {
    case FakeBusService::Answer::kSucceed:
      g_dbus_method_invocation_return_value(invocation, nullptr);
      break;
    case FakeBusService::Answer::kFail:
      g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.Failed",
                                                 "cannot do that");
      break;
    case FakeBusService::Answer::kNever:
      state->unanswered.push_back(invocation);  // answered at the end
      break;
  }
}

}  // namespace

bool FakeBusService::startFileManager(Answer answer) {
  return start("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
               kFileManagerInterface, answer);
}

bool FakeBusService::start(const std::string& name, const std::string& path,
                           const std::string& interfaceXml, Answer answer) {
  state_ = std::make_unique<State>();
  state_->answer = answer;
  gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!address) return false;
  state_->connection = g_dbus_connection_new_for_address_sync(
      address,
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
  g_free(address);
  if (!state_->connection) return false;
  state_->node = g_dbus_node_info_new_for_xml(interfaceXml.c_str(), nullptr);
  if (!state_->node || !state_->node->interfaces || !state_->node->interfaces[0]) return false;
  static const GDBusInterfaceVTable vtable = {onMethodCall, nullptr, nullptr, {}};
  state_->registration = g_dbus_connection_register_object(
      state_->connection, path.c_str(), state_->node->interfaces[0], &vtable,
      state_.get(), nullptr, nullptr);
  state_->ownership = g_bus_own_name_on_connection(
      state_->connection, name.c_str(), G_BUS_NAME_OWNER_FLAGS_NONE,
      [](GDBusConnection*, const gchar*, gpointer data) { static_cast<State*>(data)->owned = 1; },
      [](GDBusConnection*, const gchar*, gpointer data) { static_cast<State*>(data)->owned = -1; },
      state_.get(), nullptr);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (state_->owned == 0 && std::chrono::steady_clock::now() < deadline) {
    if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
  }
  return state_->owned == 1;
}

FakeBusService::FakeBusService() = default;

FakeBusService::~FakeBusService() {
  if (!state_) return;
  for (GDBusMethodInvocation* invocation : state_->unanswered) {
    g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.Failed",
                                               "the service is going away");
  }
  if (state_->ownership) g_bus_unown_name(state_->ownership);
  if (state_->connection && state_->registration) {
    g_dbus_connection_unregister_object(state_->connection, state_->registration);
  }
  if (state_->connection) {
    g_dbus_connection_close_sync(state_->connection, nullptr, nullptr);
    g_object_unref(state_->connection);
  }
  if (state_->node) g_dbus_node_info_unref(state_->node);
}

const std::vector<FakeBusService::Call>& FakeBusService::calls() const {
  return state_->calls;
}

}  // namespace dravel::testing
