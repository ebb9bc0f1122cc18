// The sway IPC framing and reply parsing, and the screencopy buffer checks
// and pixel conversion: what a misbehaving compositor could send.
#include <gtest/gtest.h>
#include <wayland-client-protocol.h>

#include <string>
#include <vector>

#include "platform/linux/wayland/sway_ipc.h"
#include "platform/linux/wayland/wayland_window_list.h"
#include "platform/linux/wayland/capture/wlr_screencopy_route.h"

namespace dravel::linux_platform {
namespace {

std::string header(const char* magic, uint32_t length, uint32_t type) {
  std::string bytes(magic);
  bytes.append(reinterpret_cast<const char*>(&length), 4);
  bytes.append(reinterpret_cast<const char*>(&type), 4);
  return bytes;
}

TEST(SwayIpcTest, DecodesOnlyWellFramedRepliesOfTheAskedType) {
  const std::string body = "[]";
  const std::string good = sway_ipc::encode(sway_ipc::kGetOutputs, body);
  struct Case {
    const char* what;
    std::string bytes;
    sway_ipc::Decoded expected;
  } cases[] = {
      {"whole", good, sway_ipc::Decoded::kComplete},
      {"part of the magic", "i3-", sway_ipc::Decoded::kIncomplete},
      {"payload cut short", good.substr(0, good.size() - 1), sway_ipc::Decoded::kIncomplete},
      {"wrong magic", header("i3-ipx", 2, 3) + body, sway_ipc::Decoded::kMalformed},
      {"other type", header("i3-ipc", 2, 4) + body, sway_ipc::Decoded::kMalformed},
      {"length over the bound", header("i3-ipc", sway_ipc::kMaxPayload + 1, 3),
       sway_ipc::Decoded::kMalformed},
      {"length 0xffffffff", header("i3-ipc", 0xffffffffu, 3), sway_ipc::Decoded::kMalformed},
      {"bytes past the end", good + "x", sway_ipc::Decoded::kMalformed},
  };
  for (const Case& c : cases) {
    std::string payload;
    EXPECT_EQ(sway_ipc::decode(c.bytes, sway_ipc::kGetOutputs, &payload), c.expected) << c.what;
    if (c.expected == sway_ipc::Decoded::kComplete) {
      EXPECT_EQ(payload, body) << c.what;
    }
  }
}

// The focused output of a well-formed reply is the screen under the cursor
// that SwayHost checks against swaymsg.
TEST(SwayIpcTest, RefusesMalformedOutputReplies) {
  const std::string second =
      R"({"name":"HEADLESS-2","focused":true,"rect":{"x":720,"y":0,"width":1920,"height":1080}})";
  const std::pair<const char*, std::string> cases[] = {
      {"none focused",
       R"([{"name":"A","focused":false,"rect":{"x":0,"y":0,"width":1,"height":1}}])"},
      {"not json", "[{"},
      {"element not an object", "[1," + second + "]"},
      {"rect missing a field", R"([{"name":"A","focused":true,"rect":{"x":0,"y":0,"width":1}}])"},
      {"empty rect size",
       R"([{"name":"A","focused":true,"rect":{"x":0,"y":0,"width":0,"height":1}}])"},
  };
  for (const auto& [what, payload] : cases) {
    EXPECT_EQ(sway_ipc::focusedOutputOf(payload), std::nullopt) << what;
  }
}

// A window of a GET_TREE reply, and a tree of one workspace.
std::string con(int id, bool focused, bool visible = true) {
  return R"({"type":"con","id":)" + std::to_string(id) + R"(,"pid":)" + std::to_string(100 + id) +
         R"(,"focused":)" + (focused ? "true" : "false") + R"(,"visible":)" +
         (visible ? "true" : "false") + R"(,"app_id":"foot","name":"t","rect":{"x":)" +
         std::to_string(1000 + id) + R"(,"y":300,"width":50,"height":40}})";
}
std::string tree(const std::string& tiled, const std::string& floating = "") {
  return R"({"type":"root","nodes":[{"type":"output","nodes":[{"type":"workspace","nodes":[)" +
         tiled + R"(],"floating_nodes":[)" + floating + "]}]}]}";
}

TEST(SwayIpcTest, TreeGivesVisibleWindowsFocusedFirstOrNothingWhenItLies) {
  const std::string one = con(1, false);
  const auto lie = [&](const std::string& from, const std::string& to) {
    std::string node = one;
    return tree(node.replace(node.find(from), from.size(), to));
  };
  std::string deep = one;  // 65 levels with the root, output and workspace
  for (int i = 0; i < 62; ++i) deep = R"({"type":"con","id":9,"nodes":[)" + deep + "]}";
  struct Case {
    const char* what;
    std::string payload;
    std::optional<std::vector<int64_t>> ids;
  } cases[] = {
      {"focused first, floating over tiled, last raised on top",
       tree(one + "," + con(2, true), con(3, false) + "," + con(4, false)),
       {{2, 4, 3, 1}}},
      {"hidden windows and containers left out",
       tree(R"({"type":"con","id":9,"nodes":[)" + con(5, false, false) + "," + one + "]}"),
       {{1}}},
      {"not json", "{", std::nullopt},
      {"pid a string", lie(R"("pid":101)", R"("pid":"101")"), std::nullopt},
      {"negative width", lie(R"("width":50)", R"("width":-50)"), std::nullopt},
      {"title bar without a height", lie(R"("rect")", R"("deco_rect":{},"rect")"), std::nullopt},
      {"nodes not an array", R"({"type":"root","nodes":{}})", std::nullopt},
      {"nested too deep", tree(deep), std::nullopt},
  };
  // The frames, title bar included, are checked against swaymsg by SwayHost.
  const DesktopLayout layout({MonitorPixels{"P", 720, 100, 1920, 1080, true, 1}}, 1);
  for (const Case& c : cases) {
    std::optional<std::vector<int64_t>> ids;
    if (const auto windows = sway_ipc::visibleWindowsOf(c.payload)) {
      ids.emplace();
      for (const Value& e : swayWindowEntries(*windows, layout))
        ids->push_back(*e.intAt(kCGWindowNumber));
    }
    EXPECT_EQ(ids, c.ids) << c.what;
  }
}

TEST(ScreencopyBufferTest, RefusesBufferParametersThatDoNotFit) {
  struct Case {
    uint32_t width, height, stride;
    std::optional<size_t> expected;
  } cases[] = {
      {2, 3, 8, 24},
      {2, 3, 12, 36},                        // padded rows
      {2, 0, 8, std::nullopt},               // empty
      {2, 3, 7, std::nullopt},               // stride short of width x 4
      {0x40000000, 1, 0, std::nullopt},      // width x 4 wraps in 32 bits
      {65536, 65536, 262144, std::nullopt},  // over what a pool holds
  };
  for (const Case& c : cases) {
    EXPECT_EQ(screencopyBufferSize(c.width, c.height, c.stride), c.expected)
        << c.width << "x" << c.height << " stride " << c.stride;
  }
}

// The format sway's headless outputs copy in is checked against grim by
// tests/wayland (SwayHost).
TEST(ScreencopyBufferTest, ConvertsEachFormatAndHonoursYInvert) {
  // Two rows of one pixel, a padding word each: memory bytes 1 2 3 4, 5 6 7 8.
  const std::vector<uint8_t> buffer = {1, 2, 3, 4, 0, 0, 0, 0, 5, 6, 7, 8, 0, 0, 0, 0};
  struct Case {
    uint32_t format;
    bool yInvert;
    std::vector<uint8_t> expected;  // nothing: refused
  } cases[] = {
      {WL_SHM_FORMAT_ARGB8888, true, {5, 6, 7, 255, 1, 2, 3, 255}},
      {WL_SHM_FORMAT_XBGR8888, false, {3, 2, 1, 255, 7, 6, 5, 255}},
      {WL_SHM_FORMAT_RGB565, false, {}},
  };
  for (const Case& c : cases) {
    std::string error;
    CapturedImagePtr image =
        screencopyImage(buffer.data(), buffer.size(), c.format, 1, 2, 8, c.yInvert, &error);
    if (c.expected.empty()) {
      EXPECT_EQ(image, nullptr);
      EXPECT_NE(error.find("pixel format"), std::string::npos) << error;
      continue;
    }
    ASSERT_NE(image, nullptr) << error;
    EXPECT_TRUE(image->isWellFormed());
    EXPECT_EQ(image->format, PixelFormat::kBGRAPremultiplied);
    EXPECT_EQ(image->pixels, c.expected) << c.format;
  }
  // A buffer shorter than its parameters promise is refused, never read past.
  std::string error;
  EXPECT_EQ(screencopyImage(buffer.data(), buffer.size() - 1, WL_SHM_FORMAT_XRGB8888, 1, 2, 8,
                            false, &error),
            nullptr);
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace dravel::linux_platform
