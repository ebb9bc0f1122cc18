// The system hotkey table on Linux: accelerators translated into the host's
// key values and masks, and read from the desktop's keybinding settings.
#include "platform/linux/linux_user_defaults.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

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

// Points this process's settings at the compiled schemas (once).
void useOwnSchemas() {
  static const std::string folder = [] {
    std::string pattern = ::testing::TempDir() + "/dravel-schemas-XXXXXX";
    if (!::mkdtemp(pattern.data())) return std::string();
    std::FILE* file = std::fopen((pattern + "/dravel-test.gschema.xml").c_str(), "w");
    if (!file) return std::string();
    std::fputs(kSchemas, file);
    std::fclose(file);
    dravel::testing::commandOutput({"glib-compile-schemas", pattern});
    return pattern;
  }();
  ASSERT_TRUE(std::filesystem::exists(folder + "/gschemas.compiled"));
  ::setenv("GSETTINGS_SCHEMA_DIR", folder.c_str(), 1);
  ::setenv("XDG_DATA_DIRS", folder.c_str(), 1);
}

std::optional<HotkeyBinding> binding(int64_t keyCode, int64_t mask) {
  return HotkeyBinding{keyCode, mask};
}

TEST(LinuxHotkeyTranslation, AcceleratorsBecomeLowercaseKeyValuesAndTheProbesModifierBits) {
  EXPECT_EQ(bindingFromAccelerator("<Super><Shift>s"), binding(kKeyS, 0x120000));
  EXPECT_EQ(bindingFromAccelerator("<Ctrl><Shift><Alt>R"), binding(kKeyR, 0x0e0000));
  EXPECT_EQ(bindingFromAccelerator("<Shift>S"), binding(kKeyS, 0x20000));
  EXPECT_EQ(bindingFromAccelerator("Print"), binding(kKeyPrint, 0));
  EXPECT_EQ(bindingFromAccelerator("<Primary>Print"), bindingFromAccelerator("<Control>Print"));
  EXPECT_EQ(bindingFromAccelerator("<Primary>Print"), binding(kKeyPrint, 0x40000));
  EXPECT_EQ(bindingFromAccelerator("<primary><SHIFT>Print"), binding(kKeyPrint, 0x60000));
  EXPECT_EQ(bindingFromAccelerator("<Super>Above_Tab"), binding(kKeyGrave, 0x100000));
  EXPECT_EQ(bindingFromAccelerator("<Meta>s"), binding(kKeyS, 0x100000));
  EXPECT_EQ(bindingFromAccelerator("<Mod4>s"), binding(kKeyS, 0x100000));
  EXPECT_EQ(bindingFromAccelerator("<Mod1>F4"), binding(kKeyF4, 0x80000));
}

TEST(LinuxHotkeyTranslation, UnboundUnreadableAndInexpressibleAcceleratorsAreLeftOut) {
  for (const char* accelerator :
       {"", "disabled", "garbage<<", "<Super>", "<Shift>NoSuchKey", "<Hyper>s", "<Mod5>s"}) {
    EXPECT_EQ(bindingFromAccelerator(accelerator), std::nullopt) << accelerator;
  }
}

// The bindings of a hotkey table's entries, each checked to be enabled,
// under a string key and of the standard kind.
std::vector<HotkeyBinding> bindingsIn(const Value& table) {
  std::vector<HotkeyBinding> bindings;
  for (const auto& [id, entry] : *table.asMap()) {
    EXPECT_TRUE(id.asString());
    EXPECT_EQ(entry.asMap()->find("enabled")->asInt(), 1);
    const ValueList& p = *entry.asMap()->find("value")->asMap()->find("parameters")->asList();
    EXPECT_EQ(p.size(), 3u);
    EXPECT_EQ(p[0].asInt(), 65535);
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

// Settings live in memory, private to this process: ctest runs each test in
// a process of its own, and the backend is chosen at the first use.
class LinuxHotkeySettings : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("GSETTINGS_BACKEND", "memory", 1);
    useOwnSchemas();
  }
  void TearDown() override {
    for (GSettings* settings : changed_) {
      GSettingsSchema* schema = nullptr;
      g_object_get(settings, "settings-schema", &schema, nullptr);
      gchar** keys = g_settings_schema_list_keys(schema);
      for (gchar** key = keys; *key; ++key) g_settings_reset(settings, *key);
      g_strfreev(keys);
      g_settings_schema_unref(schema);
      g_object_unref(settings);
    }
  }
  GSettings* settings(const char* schema, const char* path = nullptr) {
    GSettings* s = path ? g_settings_new_with_path(schema, path) : g_settings_new(schema);
    changed_.push_back(s);
    return s;
  }
  static std::vector<HotkeyBinding> bindingsOf(const std::vector<std::string>& schemas) {
    return bindingsIn(hotkeyTable(acceleratorsFromSettings(schemas)));
  }
  static bool contains(const std::vector<HotkeyBinding>& bindings, HotkeyBinding b) {
    return std::find(bindings.begin(), bindings.end(), b) != bindings.end();
  }

 private:
  std::vector<GSettings*> changed_;
};

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

TEST_F(LinuxHotkeySettings, ChangedAndDisabledBindingsCountFromTheNextRead) {
  LinuxUserDefaults defaults;
  GSettings* wm = settings("org.gnome.desktop.wm.keybindings");
  const gchar* changed[] = {"<Super><Shift>s", "<Primary>F9", nullptr};
  ASSERT_TRUE(g_settings_set_strv(wm, "close", changed));
  GSettings* shell = settings("org.gnome.shell.keybindings");
  const gchar* disabled[] = {"disabled", nullptr};
  ASSERT_TRUE(g_settings_set_strv(shell, "show-screenshot-ui", disabled));
  ASSERT_TRUE(g_settings_set_strv(shell, "screenshot", nullptr));

  std::vector<HotkeyBinding> all = bindingsOf(kKeybindingSchemas);
  EXPECT_TRUE(contains(all, {kKeyS, 0x120000}));
  EXPECT_TRUE(contains(all, {kKeyF9, 0x40000}));
  EXPECT_FALSE(contains(all, {kKeyF4, 0x80000})) << "the old binding of close";
  EXPECT_FALSE(contains(all, {kKeyPrint, 0}));
  EXPECT_FALSE(contains(all, {kKeyPrint, 0x20000}));
  EXPECT_TRUE(contains(all, {kKeyPrint, 0x80000})) << "the window screenshot is unchanged";

  // Through the domain the host reads.
  std::optional<Value> table =
      defaults.dictionaryForKey(kSymbolicHotkeysSuite, kSymbolicHotkeysKey);
  ASSERT_TRUE(table && table->asMap());
  EXPECT_EQ(table->asMap()->size(), all.size());
  EXPECT_FALSE(defaults.dictionaryForKey(kSymbolicHotkeysSuite, "OtherKey"));
  EXPECT_FALSE(defaults.dictionaryForKey("org.gnome.shell", kSymbolicHotkeysKey));
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
// sees GNOME's screenshot keys as taken.
class LinuxHotkeyProbe : public dravel::testing::HostTest {};

TEST_F(LinuxHotkeyProbe, ReportsTheDefaultScreenshotKeysAsTaken) {
  ::setenv("GSETTINGS_BACKEND", "memory", 1);
  useOwnSchemas();
  LinuxUserDefaults defaults;
  desktop().userDefaults().store(
      kSymbolicHotkeysSuite, kSymbolicHotkeysKey,
      defaults.dictionaryForKey(kSymbolicHotkeysSuite, kSymbolicHotkeysKey));
  EXPECT_EQ(HotkeyProbe::isFree(kKeyPrint, {}), false);
  EXPECT_EQ(HotkeyProbe::isFree(kKeyPrint, {"shift"}), false);
  EXPECT_EQ(HotkeyProbe::isFree(kKeyPrint, {"control", "meta"}), true);
  EXPECT_EQ(HotkeyProbe::isFree(kKeyS, {"control", "alt", "meta"}), true);
}

}  // namespace
}  // namespace dravel::linux_platform
