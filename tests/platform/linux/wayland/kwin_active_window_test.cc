// What the host makes of the report of KWin's script on the active window.
#include "platform/linux/wayland/kwin_active_window.h"

#include <gtest/gtest.h>

namespace dravel::linux_platform {
namespace {

TEST(KWinReport, NamesTheWindowNoneOrWhatIsWrong) {
  EXPECT_EQ(parseKWinReport({"42", "2100", "150.5", "640", "480", "app", "T", "{i}"}).window,
            (KWinActiveWindow{42, 2100, 150.5, 640, 480, "app", "T", "{i}"}));
  EXPECT_TRUE(parseKWinReport(std::vector<std::string>(8)).ok);
  EXPECT_FALSE(parseKWinReport({"42", "0", "0", "640", "480", "a", "T", ""}).ok);
  EXPECT_FALSE(parseKWinReport({"4.5", "0", "0", "640", "480", "a", "T", "{i}"}).ok);
  for (const char* bad : {"undefined", "-1", "NaN", "640x", "null"}) {
    EXPECT_FALSE(parseKWinReport({bad, "0", "0", "640", "480", "a", "T", "{i}"}).ok) << bad;
    EXPECT_FALSE(parseKWinReport({"42", "0", "0", bad, "480", "a", "T", "{i}"}).ok) << bad;
  }
}

}  // namespace
}  // namespace dravel::linux_platform
