// The simulated object runtime, holding the embedding's cursor plugin class
// "FlutterMouseCursorPlugin" with its class method "cursorFromKind:", which
// maps the interface's cursor kinds to the system's cursors. A scenario can
// take the class or the method away.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/seam/object_runtime.h"

namespace dravel::sim {

inline constexpr const char* kCursorPluginClass = "FlutterMouseCursorPlugin";
inline constexpr const char* kCursorFromKindSelector = "cursorFromKind:";

class SimObjectRuntime : public ObjectRuntime {
 public:
  SimObjectRuntime();

  bool classNamed(const std::string& className) override;
  std::optional<CursorFromKindImp> classMethodImplementation(const std::string& className,
                                                             const std::string& selector) override;
  bool setClassMethodImplementation(const std::string& className, const std::string& selector,
                                    CursorFromKindImp implementation) override;

  // Back to the embedding as it ships: the plugin class with its own lookup.
  void reset();
  void removeClass(const std::string& className);
  void removeClassMethod(const std::string& className, const std::string& selector);
  // True when the method's implementation is no longer the one it shipped with.
  bool isReplaced(const std::string& className, const std::string& selector) const;

  // What the embedding does when the interface asks for a cursor kind: calls
  // the plugin's lookup as it currently is. Without the plugin class or
  // method, the embedding shows the arrow.
  std::shared_ptr<Cursor> cursorForKind(const std::string& kind);

  // The system cursor of that name, the same object every time.
  std::shared_ptr<Cursor> systemCursor(const std::string& name);
  // The embedding's own table, from kind to system cursor name; unknown kinds
  // get "arrowCursor".
  static std::string embeddingCursorName(const std::string& kind);

  // Kinds that reached the embedding's own lookup, in order.
  std::vector<std::string> embeddingLookups;

 private:
  struct Method {
    CursorFromKindImp implementation;
    bool replaced = false;
  };
  std::map<std::string, std::map<std::string, Method>> classes_;
  std::map<std::string, std::shared_ptr<Cursor>> systemCursors_;
};

}  // namespace dravel::sim
