#include "tests/support/fake_bus_service.h"

#include <gio/gio.h>

#include <fstream>

#include "tests/support/host_process.h"

namespace dravel::testing {

struct FakeBusService::State {
  Answer answer = Answer::kSucceed;
  std::vector<Call> calls;
  std::vector<GDBusMethodInvocation*> unanswered;
  OwnedBusObject object;
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

PrivateBus::PrivateBus(const std::string& dir) {
  std::ofstream(dir + "/bus.conf")
      << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
         " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
         "<busconfig><type>session</type><listen>unix:tmpdir="
      << dir
      << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
         "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
         "<allow own=\"*\"/></policy></busconfig>\n";
  pid_ =
      spawn({"dbus-daemon", "--nofork", "--config-file=" + dir + "/bus.conf", "--print-address=1"},
            dir + "/bus.address", dir + "/bus.err");
  std::string address;
  if (!waitUntil([&] {
        address = readFile(dir + "/bus.address");
        return address.find('\n') != std::string::npos;
      })) {
    ADD_FAILURE() << "no private bus: " << readFile(dir + "/bus.err");
    return;
  }
  address_ = address.substr(0, address.find('\n'));
}

PrivateBus::~PrivateBus() {
  stopProcess(pid_);
}

bool OwnedBusObject::start(const std::string& name, const std::string& path,
                           const std::string& interfaceXml, const GDBusInterfaceVTable* vtable,
                           void* data) {
  gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!address) return false;
  connection_ = g_dbus_connection_new_for_address_sync(
      address,
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
  g_free(address);
  if (!connection_ || !serveAlso(path, interfaceXml, vtable, data)) return false;
  ownership_ = g_bus_own_name_on_connection(
      connection_, name.c_str(), G_BUS_NAME_OWNER_FLAGS_NONE,
      [](GDBusConnection*, const gchar*, gpointer self) {
        static_cast<OwnedBusObject*>(self)->owned_ = 1;
      },
      [](GDBusConnection*, const gchar*, gpointer self) {
        static_cast<OwnedBusObject*>(self)->owned_ = -1;
      },
      this, nullptr);
  GMainContext* context = g_main_context_ref_thread_default();
  waitUntil(
      [&] {
        while (g_main_context_iteration(context, FALSE)) {
        }
        return owned_ != 0;
      },
      10);
  g_main_context_unref(context);
  return owned();
}

bool OwnedBusObject::serveAlso(const std::string& path, const std::string& interfaceXml,
                               const GDBusInterfaceVTable* vtable, void* data) {
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(interfaceXml.c_str(), nullptr);
  unsigned registration = 0;
  if (node && node->interfaces && node->interfaces[0]) {
    registration = g_dbus_connection_register_object(connection_, path.c_str(), node->interfaces[0],
                                                     vtable, data, nullptr, nullptr);
  }
  if (node) g_dbus_node_info_unref(node);
  if (registration != 0) registrations_.push_back(registration);
  return registration != 0;
}

OwnedBusObject::~OwnedBusObject() {
  if (!connection_) return;
  if (ownership_) g_bus_unown_name(ownership_);
  for (unsigned registration : registrations_) {
    g_dbus_connection_unregister_object(connection_, registration);
  }
  g_dbus_connection_close_sync(connection_, nullptr, nullptr);
  g_object_unref(connection_);
}

bool FakeBusService::startFileManager(Answer answer) {
  return start("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
               kFileManagerInterface, answer);
}

bool FakeBusService::start(const std::string& name, const std::string& path,
                           const std::string& interfaceXml, Answer answer) {
  static const GDBusInterfaceVTable vtable = {onMethodCall, nullptr, nullptr, {}};
  state_ = std::make_unique<State>();
  state_->answer = answer;
  return state_->object.start(name, path, interfaceXml, &vtable, state_.get());
}

FakeBusService::FakeBusService() = default;

FakeBusService::~FakeBusService() {
  if (!state_) return;
  for (GDBusMethodInvocation* invocation : state_->unanswered) {
    g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.Failed",
                                               "the service is going away");
  }
}

const std::vector<FakeBusService::Call>& FakeBusService::calls() const {
  return state_->calls;
}

}  // namespace dravel::testing
