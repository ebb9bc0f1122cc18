// The system hotkey table on Linux: accelerators translated into the host's
// key values and masks, and read from the desktop's keybinding settings.
#include "platform/linux/session/linux_user_defaults.h"

#define G_SETTINGS_ENABLE_BACKEND
#include <gio/gio.h>
#include <gio/gsettingsbackend.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "host/hotkey_probe.h"
#include "platform/sim/sim_desktop.h"
#include "tests/support/host_fixture.h"
#include "tests/support/x_desktop.h"

namespace dravel::linux_platform {
namespace {

// Key values from X11's keysymdef.h, not from GDK.
constexpr int64_t kKeyS = 0x73;
constexpr int64_t kKeyR = 0x72;
constexpr int64_t kKeyF4 = 0xffc1;
constexpr int64_t kKeyF9 = 0xffc6;
constexpr int64_t kKeyPrint = 0xff61;
constexpr int64_t kKeyGrave = 0x60;
constexpr int64_t kKeyL = 0x6c;

// The desktop's keybinding schemas as this test defines them, compiled into a
// folder of its own, which is the only place settings are looked up: what
// the machine has installed plays no part. The mutter schemas the host also
// reads are left out, as on a desktop without mutter.
constexpr const char* kSchemas = R"(<schemalist>
  <schema id="org.gnome.shell.keybindings" path="/org/gnome/shell/keybindings/">
    <key name="show-screenshot-ui" type="as"><default>['Print']</default></key>
    <key name="screenshot" type="as"><default>['&lt;Shift&gt;Print']</default></key>
    <key name="screenshot-window" type="as"><default>['&lt;Alt&gt;Print']</default></key>
    <key name="show-screen-recording-ui" type="as">
      <default>['&lt;Ctrl&gt;&lt;Shift&gt;&lt;Alt&gt;R']</default></key>
  </schema>
  <schema id="org.gnome.desktop.wm.keybindings" path="/org/gnome/desktop/wm/keybindings/">
    <key name="close" type="as"><default>['&lt;Alt&gt;F4']</default></key>
    <key name="switch-group" type="as"><default>['&lt;Super&gt;Above_Tab']</default></key>
    <key name="minimize" type="as"><default>['disabled']</default></key>
    <key name="show-desktop" type="as"><default>[]</default></key>
    <key name="titlebar-font" type="s"><default>'Cantarell Bold 11'</default></key>
  </schema>
  <schema id="org.gnome.settings-daemon.plugins.media-keys"
          path="/org/gnome/settings-daemon/plugins/media-keys/">
    <key name="custom-keybindings" type="as"><default>[]</default></key>
    <key name="screensaver" type="as"><default>['&lt;Super&gt;l']</default></key>
  </schema>
  <schema id="org.gnome.settings-daemon.plugins.media-keys.custom-keybinding">
    <key name="name" type="s"><default>''</default></key>
    <key name="command" type="s"><default>''</default></key>
    <key name="binding" type="s"><default>''</default></key>
  </schema>
</schemalist>
)";

// The compiled schemas above, as a source of their own (made once).
GSettingsSchemaSource* ownSchemas() {
  static GSettingsSchemaSource* const source = []() -> GSettingsSchemaSource* {
    std::string pattern = ::testing::TempDir() + "/dravel-schemas-XXXXXX";
    if (!::mkdtemp(pattern.data())) return nullptr;
    std::FILE* file = std::fopen((pattern + "/dravel-test.gschema.xml").c_str(), "w");
    if (!file) return nullptr;
    std::fputs(kSchemas, file);
    std::fclose(file);
    dravel::testing::commandOutput({"glib-compile-schemas", pattern});
    return g_settings_schema_source_new_from_directory(pattern.c_str(), nullptr, FALSE, nullptr);
  }();
  return source;
}

TEST(LinuxHotkeyTranslation, AcceleratorsBecomeLowercaseKeyValuesAndTheProbesModifierBits) {
  const std::pair<const char*, HotkeyBinding> cases[] = {
      {"<Super><Shift>s", {kKeyS, 0x120000}},
      {"<Ctrl><Shift><Alt>R", {kKeyR, 0x0e0000}},
      {"Print", {kKeyPrint, 0}},
      {"<primary><SHIFT>Print", {kKeyPrint, 0x60000}},
      {"<Super>Above_Tab", {kKeyGrave, 0x100000}},
      {"<Mod4>s", {kKeyS, 0x100000}},
  };
  for (const auto& [accelerator, expected] : cases)
    EXPECT_EQ(bindingFromAccelerator(accelerator), expected) << accelerator;
}

TEST(LinuxHotkeyTranslation, UnboundUnreadableAndInexpressibleAcceleratorsAreLeftOut) {
  for (const char* accelerator :
       {"", "disabled", "garbage<<", "<Super>", "<Shift>NoSuchKey", "<Hyper>s", "<Mod5>s"}) {
    EXPECT_EQ(bindingFromAccelerator(accelerator), std::nullopt) << accelerator;
  }
}

// The bindings of a hotkey table's entries (that the probe reads them is
// LinuxHotkeyProbe's).
std::vector<HotkeyBinding> bindingsIn(const Value& table) {
  std::vector<HotkeyBinding> bindings;
  for (const auto& [id, entry] : *table.asMap()) {
    const ValueList& p = *entry.asMap()->find("value")->asMap()->find("parameters")->asList();
    bindings.push_back({*p[1].asInt(), *p[2].asInt()});
  }
  return bindings;
}

TEST(LinuxHotkeyTranslation, TheTableHoldsOneEnabledEntryPerBoundAcceleratorUnderUniqueKeys) {
  Value table = hotkeyTable({"Print", "disabled", "", "<Alt>F4", "nonsense<", "<Alt>F4"});
  ASSERT_TRUE(table.asMap());
  // Entries under unique keys: a map of three for three bindings.
  EXPECT_EQ(table.asMap()->size(), 3u);
  EXPECT_EQ(bindingsIn(table),
            (std::vector<HotkeyBinding>{{kKeyPrint, 0}, {kKeyF4, 0x80000}, {kKeyF4, 0x80000}}));
}

// Settings in memory, private to each test, over the schemas above: neither
// the session's settings nor the environment play a part.
class LinuxHotkeySettings : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(ownSchemas()); }
  void TearDown() override {
    for (GSettings* s : opened_) g_object_unref(s);
    g_object_unref(backend_);
  }
  SettingsSource source() const { return {ownSchemas(), backend_}; }
  GSettings* settings(const char* id, const char* path = nullptr) {
    GSettingsSchema* schema = g_settings_schema_source_lookup(ownSchemas(), id, FALSE);
    GSettings* s = g_settings_new_full(schema, backend_, path);
    g_settings_schema_unref(schema);
    opened_.push_back(s);
    return s;
  }
  std::vector<HotkeyBinding> bindingsOf(const std::vector<std::string>& schemas) const {
    return bindingsIn(hotkeyTable(acceleratorsFromSettings(schemas, source())));
  }
  static bool contains(const std::vector<HotkeyBinding>& bindings, HotkeyBinding b) {
    return std::find(bindings.begin(), bindings.end(), b) != bindings.end();
  }

 private:
  GSettingsBackend* backend_ = g_memory_settings_backend_new();
  std::vector<GSettings*> opened_;
};

// Values the user set are read by the same GSettings calls as the defaults
// here, on every read.
TEST_F(LinuxHotkeySettings, EveryBoundAcceleratorOfTheSchemasThereIsRead) {
  // Unbound, disabled and non-list keys, the relocatable schema (read only at
  // its listed paths) and the missing mutter schemas add nothing.
  std::vector<HotkeyBinding> expected = {
      {kKeyPrint, 0},    {kKeyPrint, 0x20000},  {kKeyPrint, 0x80000}, {kKeyR, 0x0e0000},
      {kKeyF4, 0x80000}, {kKeyGrave, 0x100000}, {kKeyL, 0x100000}};
  std::vector<HotkeyBinding> all = bindingsOf(kKeybindingSchemas);
  const auto order = [](HotkeyBinding a, HotkeyBinding b) {
    return std::pair(a.keyCode, a.modifierMask) < std::pair(b.keyCode, b.modifierMask);
  };
  std::sort(all.begin(), all.end(), order);
  std::sort(expected.begin(), expected.end(), order);
  EXPECT_EQ(all, expected);
  EXPECT_EQ(bindingsOf({"app.dravel.absent.keybindings", "no.such.schema",
                        "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding",
                        "org.gnome.desktop.wm.keybindings"}),
            bindingsOf({"org.gnome.desktop.wm.keybindings"}));
}

TEST_F(LinuxHotkeySettings, CustomBindingsAreReadAtTheirListedPaths) {
  const char* path = "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom0/";
  GSettings* custom =
      settings("org.gnome.settings-daemon.plugins.media-keys.custom-keybinding", path);
  ASSERT_TRUE(g_settings_set_string(custom, "name", "<Alt>F4"));   // not an accelerator
  ASSERT_TRUE(g_settings_set_string(custom, "command", "Print"));  // nor this
  ASSERT_TRUE(g_settings_set_string(custom, "binding", "<Super>F9"));
  const std::vector<std::string> mediaKeys = {"org.gnome.settings-daemon.plugins.media-keys"};
  const size_t before = bindingsOf(mediaKeys).size();
  EXPECT_FALSE(contains(bindingsOf(mediaKeys), {kKeyF9, 0x100000})) << "not listed yet";

  GSettings* media = settings("org.gnome.settings-daemon.plugins.media-keys");
  const gchar* paths[] = {path, "not/a/path", nullptr};
  ASSERT_TRUE(g_settings_set_strv(media, "custom-keybindings", paths));
  std::vector<HotkeyBinding> after = bindingsOf(mediaKeys);
  EXPECT_TRUE(contains(after, {kKeyF9, 0x100000}));
  EXPECT_EQ(after.size(), before + 1) << "only the binding, once; the invalid path skipped";
}

// The host's probe, fed the table built from the desktop's default settings,
// sees GNOME's screenshot keys as taken: it reads the entries as this
// platform writes them.
class LinuxHotkeyProbe : public dravel::testing::HostTest {};

TEST_F(LinuxHotkeyProbe, ReportsTheDefaultScreenshotKeysAsTaken) {
  ASSERT_TRUE(ownSchemas());
  GSettingsBackend* backend = g_memory_settings_backend_new();
  LinuxUserDefaults defaults({ownSchemas(), backend});
  desktop().userDefaults().store(
      kSymbolicHotkeysSuite, kSymbolicHotkeysKey,
      defaults.dictionaryForKey(kSymbolicHotkeysSuite, kSymbolicHotkeysKey));
  g_object_unref(backend);
  EXPECT_EQ(HotkeyProbe::isFree(kKeyPrint, {}), false);
  EXPECT_EQ(HotkeyProbe::isFree(kKeyPrint, {"shift"}), false);
  EXPECT_EQ(HotkeyProbe::isFree(kKeyPrint, {"control", "meta"}), true);
}

}  // namespace
}  // namespace dravel::linux_platform
