#include "platform/sim/sim_open_panel.h"

#include <climits>

#include "channels/main_queue.h"
#include "platform/sim/scenario_registry.h"
#include "platform/sim/section_fields.h"
#include "platform/sim/sim_desktop.h"

namespace dravel::sim {
namespace {

void closeLater(OpenPanel::Completion completion, SimOpenPanel::Answer answer) {
  mainQueue().async([completion = std::move(completion), answer = std::move(answer)] {
    completion(answer.response, answer.path);
  });
}

}  // namespace

uint64_t SimOpenPanel::begin(const OpenPanelConfiguration& configuration, Completion completion) {
  shown.push_back(configuration);
  const uint64_t id = nextId_++;
  if (automaticAnswer) {
    closeLater(std::move(completion), *automaticAnswer);
    return id;
  }
  open_.push_back({id, std::move(completion)});
  return id;
}

void SimOpenPanel::cancel(uint64_t panel) {
  for (auto it = open_.begin(); it != open_.end(); ++it) {
    if (it->id != panel) continue;
    Completion completion = std::move(it->completion);
    open_.erase(it);
    ++cancelled;
    closeLater(std::move(completion), Answer::cancel());
    return;
  }
}

bool SimOpenPanel::answer(Answer answer) {
  if (open_.empty()) return false;
  Completion completion = std::move(open_.front().completion);
  open_.pop_front();
  closeLater(std::move(completion), std::move(answer));
  return true;
}

Value describePanelConfiguration(const OpenPanelConfiguration& c) {
  return ValueMap{
      {"canChooseDirectories", c.canChooseDirectories},
      {"canChooseFiles", c.canChooseFiles},
      {"canCreateDirectories", c.canCreateDirectories},
      {"allowsMultipleSelection", c.allowsMultipleSelection},
      {"directoryURL", c.directoryURL ? Value(*c.directoryURL) : Value()},
  };
}

namespace {

// An answer from {"answer": folder path or null for cancel, "response": int}.
// The response defaults to OK with a folder and to cancel without one.
std::optional<SimOpenPanel::Answer> readAnswer(const Value& map, std::string& error) {
  SimOpenPanel::Answer answer = SimOpenPanel::Answer::cancel();
  if (const Value* folder = map.at("answer")) {
    if (const std::string* path = folder->asString()) {
      answer = SimOpenPanel::Answer::folder(*path);
    } else if (!folder->isNull()) {
      error = "answer: expected a folder path or null";
      return std::nullopt;
    }
  }
  if (const Value* response = map.at("response")) {
    auto code = boundedInteger(*response, "response", INT_MIN, INT_MAX, error);
    if (!code) return std::nullopt;
    answer.response = static_cast<int>(*code);
  }
  return answer;
}

// "savePanel": {"answer": "/path" | null, "response": int}. Without "answer",
// panels stay open until the "answerSavePanel" action closes them.
const SectionRegistrar kSavePanelSection{checkedSection(
    "savePanel",
    [](const Value& value, SimDesktop* desktop) -> std::string {
      if (!value.asMap()) return "expected a map";
      std::string error;
      std::optional<SimOpenPanel::Answer> answer;
      if (value.at("answer") || value.at("response")) {
        answer = readAnswer(value, error);
        if (!answer) return error;
      }
      if (!desktop) return {};
      SimOpenPanel& panel = desktop->openPanel();
      panel.automaticAnswer = answer;
      panel.shown.clear();
      panel.cancelled = 0;
      return {};
    },
    [](SimDesktop& desktop) -> Value {
      SimOpenPanel& panel = desktop.openPanel();
      ValueList shown;
      for (const auto& c : panel.shown) shown.push_back(describePanelConfiguration(c));
      return ValueMap{{"shown", Value(std::move(shown))},
                      {"open", Value(static_cast<int64_t>(panel.openPanels()))},
                      {"cancelled", Value(panel.cancelled)}};
    })};

// The user closes the oldest open panel: {"answer": "/path" | null, "response": int}.
// Answers whether a panel was open.
const ActionRegistrar kAnswerSavePanel{{
    "answerSavePanel",
    [](const Value& arguments, SimDesktop& desktop, FlutterResult result) {
      std::string error;
      std::optional<SimOpenPanel::Answer> answer = readAnswer(arguments.argumentsOrEmpty(), error);
      if (!answer) {
        result(FlutterError::errorWithCode("bad_args", error));
        return;
      }
      result(Value(desktop.openPanel().answer(std::move(*answer))));
    },
}};

}  // namespace
}  // namespace dravel::sim
