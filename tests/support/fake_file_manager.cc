#include "tests/support/fake_file_manager.h"

#include <gio/gio.h>

#include <chrono>

namespace dravel::testing {

struct FakeFileManager::State {
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

constexpr const char* kInterface =
    "<node><interface name='org.freedesktop.FileManager1'>"
    "<method name='ShowItems'><arg type='as' direction='in'/>"
    "<arg type='s' direction='in'/></method>"
    "<method name='ShowFolders'><arg type='as' direction='in'/>"
    "<arg type='s' direction='in'/></method>"
    "</interface></node>";

void onMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                  GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
  auto* state = static_cast<FakeFileManager::State*>(data);
  if (g_strcmp0(method, "ShowItems") == 0) {
    FakeFileManager::Call call;
    GVariantIter* uris = nullptr;
    const gchar* startupId = nullptr;
    g_variant_get(parameters, "(as&s)", &uris, &startupId);
    const gchar* uri = nullptr;
    while (g_variant_iter_loop(uris, "&s", &uri)) call.uris.emplace_back(uri);
    g_variant_iter_free(uris);
    call.startupId = startupId;
    state->calls.push_back(std::move(call));
  }
  switch (state->answer) {
    case FakeFileManager::Answer::kSucceed:
      g_dbus_method_invocation_return_value(invocation, nullptr);
      break;
    case FakeFileManager::Answer::kFail:
      g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.Failed",
                                                 "cannot show that");
      break;
    case FakeFileManager::Answer::kNever:
      state->unanswered.push_back(invocation);  // answered at the end
      break;
  }
}

}  // namespace

bool FakeFileManager::start(Answer answer) {
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
  state_->node = g_dbus_node_info_new_for_xml(kInterface, nullptr);
  static const GDBusInterfaceVTable vtable = {onMethodCall, nullptr, nullptr, {}};
  state_->registration = g_dbus_connection_register_object(
      state_->connection, "/org/freedesktop/FileManager1", state_->node->interfaces[0], &vtable,
      state_.get(), nullptr, nullptr);
  state_->ownership = g_bus_own_name_on_connection(
      state_->connection, "org.freedesktop.FileManager1", G_BUS_NAME_OWNER_FLAGS_NONE,
      [](GDBusConnection*, const gchar*, gpointer data) { static_cast<State*>(data)->owned = 1; },
      [](GDBusConnection*, const gchar*, gpointer data) { static_cast<State*>(data)->owned = -1; },
      state_.get(), nullptr);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (state_->owned == 0 && std::chrono::steady_clock::now() < deadline) {
    if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
  }
  return state_->owned == 1;
}

FakeFileManager::FakeFileManager() = default;

FakeFileManager::~FakeFileManager() {
  if (!state_) return;
  for (GDBusMethodInvocation* invocation : state_->unanswered) {
    g_dbus_method_invocation_return_value(invocation, nullptr);
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

const std::vector<FakeFileManager::Call>& FakeFileManager::calls() const {
  return state_->calls;
}

}  // namespace dravel::testing
