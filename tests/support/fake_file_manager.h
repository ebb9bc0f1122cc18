// A file manager on the session bus for tests: it owns
// org.freedesktop.FileManager1 on a connection of its own, records every
// ShowItems call, and answers as told (success, a failure, or never).
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace dravel::testing {

class FakeFileManager {
 public:
  enum class Answer { kSucceed, kFail, kNever };
  struct Call {
    std::vector<std::string> uris;
    std::string startupId;
  };

  // Connects to the session bus and waits (on the default main context) until
  // the name is owned. False when it could not be.
  bool start(Answer answer);
  FakeFileManager();
  ~FakeFileManager();
  FakeFileManager(const FakeFileManager&) = delete;
  FakeFileManager& operator=(const FakeFileManager&) = delete;

  const std::vector<Call>& calls() const;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace dravel::testing
