// The engine's side of the embedding's stand-in (flutter_linux/): one engine
// with one messenger, what the interface sends and answers, and what the
// embedding reports of a plugin that misuses it.
#pragma once

#include <flutter_linux/flutter_linux.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct _FlPluginRegistrar {
  FlBinaryMessenger* messenger;
  GtkWidget* view;
};

namespace dravel::testing {

using WireBytes = std::vector<uint8_t>;

// A new engine's messenger (the caller's reference).
FlBinaryMessenger* startStandInEngine();
// A message from the interface; `reply` gets the answer on a later turn of
// the main context, empty when not implemented (or no handler).
void sendFromInterface(const std::string& channel, const WireBytes& message,
                       std::function<void(WireBytes)> reply);
// The interface's handler of what the plugin sends on `channel`.
void setInterfaceHandler(const std::string& channel, std::function<WireBytes(WireBytes)> handler);
// The engine going: every handler is let go, its destroy notification run.
void stopStandInEngine();
bool hasHandler(const std::string& channel);
// Misuses the embedding reports (a message dropped unanswered, a second
// answer); replies handed to the plugin and not released by it yet.
std::vector<std::string>& standInErrors();
int& repliesHeld();

}  // namespace dravel::testing
