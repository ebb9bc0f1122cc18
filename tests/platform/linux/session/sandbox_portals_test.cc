// The host inside a Flatpak sandbox, served by the real desktop portals
// (tests/support/sandbox-session, which runs this executable once for all its
// tests): what it asks of them is checked where it
// lands, in the stand-ins for the desktop behind the portals, the home folder
// and the portals' own stores.
#include <glib.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "channels/standard_codec.h"
#include "tests/support/host_fixture.h"
#include "tests/support/host_process.h"
#include "tests/support/x_desktop.h"

namespace dravel::testing {
namespace {

std::string text(const Value& value, const char* key) {
  return value.stringAt(key).value_or("");
}

const std::string kSessionScript = DRAVEL_SOURCE_DIR "/tests/support/sandbox-session";

// The session's folder.
std::string session() {
  const char* folder = std::getenv("DRAVEL_SANDBOX_SESSION");
  return folder ? folder : "";
}

// Waits until a call the desktop's stand-ins recorded (one JSON line each)
// holds `part`; the last such line, or empty after 10 s.
std::string standInCall(const std::string& part) {
  std::string found;
  waitUntil(
      [&] {
        std::istringstream in(readFile(session() + "/stand-ins.log"));
        for (std::string line; std::getline(in, line);)
          if (line.find(part) != std::string::npos) found = line;
        return !found.empty();
      },
      10);
  return found;
}

// The host in the sandbox on the session's X display; the test's folder is
// shared with the sandbox at its own path, the build tree read-only.
class Sandboxed : public HostProcessTest {
 protected:
  void SetUp() override {
    HostProcessTest::SetUp();
    ASSERT_FALSE(session().empty()) << "run under tests/support/sandbox-session run";
    platform_ = "x11";
    const std::string build = hostBinary_.substr(0, hostBinary_.rfind("/app/"));
    hostPrefix_ = {kSessionScript, "sandbox", "--ro-bind", build, "--bind", dir_, "--"};
  }
  std::vector<std::string> sandboxed(std::vector<std::string> argv) const {
    argv.insert(argv.begin(), hostPrefix_.begin(), hostPrefix_.end());
    return argv;
  }
  std::string home() const { return session() + "/home"; }
  // A method call to a service of the session (at its name's path unless
  // `path`), as gdbus makes it.
  int busCall(const std::string& service, const std::string& method, std::vector<std::string> args,
              std::string path = "") {
    if (path.empty()) path = "/" + std::regex_replace(service, std::regex("\\."), "/");
    args.insert(args.begin(), {"gdbus", "call", "--session", "--dest", service, "--object-path",
                               path, "--method", service + "." + method});
    return run(args);
  }
};

TEST_F(Sandboxed, TheSaveFolderIsADocumentThatOutlivesTheHostAndThePortals) {
  start();
  const Value picked = successValue(call("dravel/capture", "pickSaveFolder"));
  const std::string folder = text(picked, "path");
  const std::string documents = session() + "/run/doc/";
  ASSERT_EQ(folder.rfind(documents, 0), 0u) << folder << hostLog();
  EXPECT_TRUE(folder.ends_with("/Shots")) << folder;
  const Value bookmark = ValueMap{{"bookmark", text(picked, "bookmark")}};

  // Written into from inside the sandbox, it lands in the folder chosen.
  const Value opened = successValue(call("dravel/capture", "beginSaveFolderAccess", bookmark));
  ASSERT_EQ(run(sandboxed({"/bin/sh", "-c", "echo png > \"$0/shot.png\"", text(opened, "path")})),
            0);
  EXPECT_EQ(readFile(home() + "/Pictures/Shots/shot.png"), "png\n");

  stopHost();
  ASSERT_EQ(run({kSessionScript, "restart"}), 0) << err_;
  start();
  const Value again = successValue(call("dravel/capture", "beginSaveFolderAccess", bookmark));
  EXPECT_EQ(text(again, "path"), folder) << hostLog();
  EXPECT_EQ(again.boolAt("stale"), false);
  EXPECT_EQ(run(sandboxed({"/bin/sh", "-c", "test \"$(cat \"$0/shot.png\")\" = png", folder})), 0);

  // A removed document resolves no more.
  const std::string id = folder.substr(documents.size(), folder.rfind('/') - documents.size());
  ASSERT_EQ(busCall("org.freedesktop.portal.Documents", "Delete", {id},
                    "/org/freedesktop/portal/documents"),
            0)
      << err_;
  EXPECT_TRUE(
      isError(call("dravel/capture", "beginSaveFolderAccess", bookmark), "unresolved",
              "The folder's document " + id + " is no longer kept by the document portal."));
}

TEST_F(Sandboxed, StartAtLoginIsTheBackgroundPortalsAndItsLastAnswer) {
  const std::string entry = home() + "/.config/autostart/app.dravel.Dravel.desktop";
  const auto enabled = [&] {
    return successValue(call("dravel/autostart", "isEnabled")) == Value(true);
  };
  start();
  EXPECT_FALSE(enabled());
  ASSERT_TRUE(
      isSuccess(call("dravel/autostart", "setEnabled", ValueMap{{"enabled", true}}), Value()))
      << hostLog();
  EXPECT_NE(readFile(entry).find("\nExec=flatpak run --command=dravel-host app.dravel.Dravel"),
            std::string::npos)
      << readFile(entry);
  stopHost();
  start();
  EXPECT_TRUE(enabled()) << "the portal's answer is kept";
  ASSERT_TRUE(isSuccess(call("dravel/autostart", "setEnabled", Value()), Value()));
  EXPECT_FALSE(std::filesystem::exists(entry));
  EXPECT_FALSE(enabled());

  // The user said no once: the portal refuses from then on.
  const auto setBackground = [&](const std::string& answer) {
    return busCall("org.freedesktop.impl.portal.PermissionStore", "SetPermission",
                   {"background", "true", "background", "app.dravel.Dravel", "['" + answer + "']"});
  };
  ASSERT_EQ(setBackground("no"), 0) << err_;
  EXPECT_TRUE(isError(call("dravel/autostart", "setEnabled", ValueMap{{"enabled", true}}),
                      "autostart_failed",
                      "The background portal refused start at login: the user did not allow it."));
  EXPECT_FALSE(enabled());
  EXPECT_FALSE(std::filesystem::exists(entry));
  EXPECT_EQ(setBackground("yes"), 0) << err_;
}

TEST_F(Sandboxed, ANotificationIsShownReplacedAndClickedThroughThePortal) {
  start();
  // The interface's end: the host's calls go to every connection.
  std::unique_ptr<SocketClient> ui = connect();
  ASSERT_TRUE(ui);
  const auto show = [&](const char* title) {
    return call("dravel/notifications", "show",
                ValueMap{{"title", title}, {"id", "export"}, {"payload", "job-7"}});
  };
  ASSERT_TRUE(isSuccess(show("Exported"), Value(true))) << hostLog();
  const std::string first = standInCall("\"Exported\"");
  ASSERT_FALSE(first.empty());
  const std::string id =
      first.substr(first.rfind("\"id\": ") + 6, first.rfind('}') - first.rfind("\"id\": ") - 6);
  ASSERT_TRUE(isSuccess(show("Exported again"), Value(true)));
  // The same identifier replaces the notification on screen.
  EXPECT_NE(standInCall("\"Exported again\"").find("[\"\", " + id + ", "), std::string::npos)
      << standInCall("\"Exported again\"");

  ASSERT_EQ(busCall("org.dravel.StandIns", "Click", {id, "default"}), 0) << err_;
  std::string error;
  std::optional<Frame> frame;
  do frame = ui->readFrame(&error, 20);
  while (frame && frame->channel != "dravel/notifications");
  ASSERT_TRUE(frame) << error << hostLog();
  const auto clicked = StandardMethodCodec::decodeMethodCall(frame->payload);
  ASSERT_TRUE(std::holds_alternative<FlutterMethodCall>(clicked));
  EXPECT_EQ(std::get<FlutterMethodCall>(clicked).method, "clicked");
  EXPECT_EQ(std::get<FlutterMethodCall>(clicked).arguments,
            Value(ValueMap{{"id", "export"}, {"payload", "job-7"}}));
}

TEST_F(Sandboxed, ARevealedFileReachesTheFileManagerThroughThePortal) {
  const std::string shot = dir_ + "/shot one.png";
  std::ofstream(shot) << "png";
  start();
  ASSERT_TRUE(isSuccess(call("dravel/capture", "revealFile", ValueMap{{"path", shot}}), Value()));
  gchar* uri = g_filename_to_uri(shot.c_str(), nullptr, nullptr);
  EXPECT_FALSE(standInCall(std::string("\"ShowItems\", \"args\": [[\"") + uri + "\"]").empty())
      << hostLog();
  g_free(uri);
}

TEST_F(Sandboxed, ASecondLaunchBringsTheFirstForwardAndEnds) {
  start();
  const auto shown = [] {
    std::string out;
    runCommand({"xdotool", "search", "--onlyvisible", "--classname", "dravel-host"}, &out);
    return !out.empty();
  };
  ASSERT_FALSE(shown());
  // Both copies serve where a sandboxed host does, one shared folder: the
  // second must hand over before it meets the first one's socket.
  const pid_t second = spawn(sandboxed({hostBinary_, "--platform", "x11", "--socket", socket_}),
                             dir_ + "/second.out", dir_ + "/second.log");
  EXPECT_EQ(waitFor(second, 30), 0) << readFile(dir_ + "/second.log");
  EXPECT_TRUE(waitUntil(shown, 10)) << hostLog();
  EXPECT_TRUE(isSuccess(call("dravel/autostart", "isEnabled"), Value(false))) << hostLog();
}

}  // namespace
}  // namespace dravel::testing
