// Services on the session bus for tests, each on a connection of its own (so
// that letting one go makes its name vanish as a service that quits).
#pragma once

#include <memory>
#include <string>
#include <vector>

typedef struct _GDBusConnection GDBusConnection;
typedef struct _GDBusInterfaceVTable GDBusInterfaceVTable;

namespace dravel::testing {

// A session bus of a test's own: dbus-daemon without service activation, so
// that a service runs exactly while the test runs it. Its files go in `dir`;
// it ends with the object.
class PrivateBus {
 public:
  explicit PrivateBus(const std::string& dir);
  ~PrivateBus();
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;
  // Empty (after a failure) when the daemon did not start.
  const std::string& address() const { return address_; }

 private:
  int pid_ = -1;
  std::string address_;
};

// One object served under a name it owns; the connection closes at the end.
class OwnedBusObject {
 public:
  OwnedBusObject() = default;
  ~OwnedBusObject();
  OwnedBusObject(const OwnedBusObject&) = delete;
  OwnedBusObject& operator=(const OwnedBusObject&) = delete;

  // Connects, serves the one interface of `interfaceXml` (introspection data)
  // at `path` through `vtable` with `data`, and runs the default main context
  // until the bus has granted `name` (10 s at most). False when any of it fails.
  // The bus's answers come in the calling thread's default main context
  // (g_main_context_push_thread_default), as the calls to the object do.
  bool start(const std::string& name, const std::string& path, const std::string& interfaceXml,
             const GDBusInterfaceVTable* vtable, void* data);
  // Serves one more interface at `path` on the same connection, once started.
  bool serveAlso(const std::string& path, const std::string& interfaceXml,
                 const GDBusInterfaceVTable* vtable, void* data);
  bool owned() const { return owned_ == 1; }

 private:
  GDBusConnection* connection_ = nullptr;
  std::vector<unsigned> registrations_;
  unsigned ownership_ = 0;
  int owned_ = 0;  // 1 owned, -1 refused, 0 not yet known
};

// A service that records every call and answers as told (success with no
// values, a failure, or never).
class FakeBusService {
 public:
  enum class Answer { kSucceed, kFail, kNever };
  struct Call {
    std::string method;
    std::string arguments;  // as GLib prints the arguments' tuple
  };

  FakeBusService();
  ~FakeBusService();
  FakeBusService(const FakeBusService&) = delete;
  FakeBusService& operator=(const FakeBusService&) = delete;

  // Serves `interfaceXml` at `path` under `name` (OwnedBusObject::start).
  bool start(const std::string& name, const std::string& path, const std::string& interfaceXml,
             Answer answer);
  // The file manager's interface (org.freedesktop.FileManager1).
  bool startFileManager(Answer answer);

  const std::vector<Call>& calls() const;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace dravel::testing
