// Modal alerts.
#pragma once

#include <string>
#include <vector>

namespace dravel {

enum AlertStyle : int {
  kAlertStyleWarning = 0,
  kAlertStyleInformational = 1,
  kAlertStyleCritical = 2,
};

// What a modal run of an alert returns.
inline constexpr long kAlertFirstButtonReturn = 1000;
inline constexpr long kModalResponseAbort = -1001;

struct AlertContent {
  int style = kAlertStyleWarning;
  std::string messageText;
  std::string informativeText;
  std::vector<std::string> buttons;
};

class Alerts {
 public:
  virtual ~Alerts() = default;
  // Shows the alert and runs the main queue modally until a button is pressed
  // (kAlertFirstButtonReturn + its index) or abortModal() is called
  // (kModalResponseAbort). Modal timers fire while it runs. Main thread only.
  virtual long runModal(const AlertContent& alert) = 0;
  // Ends the modal run in progress, as if aborted.
  virtual void abortModal() = 0;
};

}  // namespace dravel
