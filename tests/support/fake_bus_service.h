// A service on the session bus for tests: it owns a name on a connection of
// its own, serves one interface at one object path, records every call, and
// answers as told (success with no values, a failure, or never).
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace dravel::testing {

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

  // Connects to the session bus, serves `interfaceXml` (introspection data of
  // one interface) at `path`, and waits (on the default main context) until
  // `name` is owned. False when it could not be.
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
