// dravel-render: draws the tray menu's badged items in each state and the two
// diagonal resize cursors to PNG files, at 1x and 2x, so that a person can
// look at them.
//
//   dravel-render [output-directory]
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "channels/in_process_messenger.h"
#include "host/badged_menu_item_view.h"
#include "host/mouse_cursors.h"
#include "platform/shared/image_codec.h"
#include "platform/shared/menu.h"
#include "platform/sim/sim_desktop.h"

namespace dravel {
namespace {

const Color kMenuBackground = Color::rgba(0.93, 0.93, 0.93, 1);
const Color kCursorBackdrop = Color::rgba(0.55, 0.62, 0.70, 1);

bool writePng(const std::string& path, const Bitmap& bitmap) {
  DecodedImage image;
  image.width = static_cast<uint32_t>(bitmap.width);
  image.height = static_cast<uint32_t>(bitmap.height);
  image.rgba = bitmap.rgba;
  auto png = encodePng(image);
  if (!png) return false;
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(png->data()), static_cast<std::streamsize>(png->size()));
  if (!out) return false;
  std::printf("%s (%dx%d)\n", path.c_str(), bitmap.width, bitmap.height);
  return true;
}

void fillBackground(const Rect& rect, const Color& color) {
  GraphicsContext* ctx = GraphicsContext::current();
  ctx->saveGraphicsState();
  ctx->setFillColor(color);
  BezierPath::bezierPathWithRoundedRect(rect, 0, 0).fill();
  ctx->restoreGraphicsState();
}

struct ItemLook {
  std::string name;  // file name part
  std::string title;
  std::optional<std::string> badge;
  std::optional<std::string> hint;
  bool enabled = true;
  bool highlighted = false;
};

constexpr double kMenuWidth = 240;

// A menu of the given items, laid out at the menu's width.
std::shared_ptr<Menu> makeMenu(const std::vector<ItemLook>& looks) {
  auto menu = Menu::create("", "TrayMenu");
  for (const auto& look : looks) {
    auto item = MenuItem::create(look.title);
    item->setEnabled(look.enabled);
    item->setHighlighted(look.highlighted);
    item->setView(std::make_shared<BadgedMenuItemView>(look.title, look.badge, look.hint));
    menu->addItem(item);
  }
  menu->layoutItems(kMenuWidth);
  return menu;
}

// The item views stacked top to bottom on the menu's background.
Bitmap renderMenu(const Menu& menu, double scale) {
  double height = 0;
  double width = 0;
  for (const auto& item : menu.itemArray()) {
    height += item->view()->frame().height;
    width = std::max(width, item->view()->frame().width);
  }
  constexpr double kPad = 5;
  const Size size{width, height + 2 * kPad};
  return renderToBitmap(size, scale, [&](GraphicsContext& ctx) {
    fillBackground({0, 0, size.width, size.height}, kMenuBackground);
    double top = size.height - kPad;
    for (const auto& item : menu.itemArray()) {
      View& view = *item->view();
      top -= view.frame().height;
      ctx.saveGraphicsState();
      ctx.translate(0, top - view.frame().y);
      view.display();
      ctx.restoreGraphicsState();
    }
  });
}

Bitmap renderCursor(const Cursor& cursor, double scale, bool backdrop) {
  const Size size = cursor.image()->size();
  return renderToBitmap(size, scale, [&](GraphicsContext&) {
    if (backdrop) fillBackground({0, 0, size.width, size.height}, kCursorBackdrop);
    cursor.image()->drawInRect({0, 0, size.width, size.height});
  });
}

int run(const std::string& dir) {
  auto [hostEnd, uiEnd] = InProcessMessenger::makePair();
  sim::SimDesktop desktop(hostEnd);
  setPlatform(&desktop);

  const std::vector<ItemLook> states = {
      {"badge", "Capture Area", "3", std::nullopt, true, false},
      {"badge-highlighted", "Capture Area", "3", std::nullopt, true, true},
      {"badge-disabled", "Capture Area", "3", std::nullopt, false, true},
      {"hint", "Capture Window", std::nullopt, "Ctrl+Shift+4", true, false},
      {"hint-highlighted", "Capture Window", std::nullopt, "Ctrl+Shift+4", true, true},
      {"hint-disabled", "Capture Window", std::nullopt, "Ctrl+Shift+4", false, true},
      {"plain", "Settings", std::nullopt, std::nullopt, true, false},
      {"long-badge", "Recent Captures", "128", std::nullopt, true, false},
  };

  bool ok = true;
  for (double scale : {1.0, 2.0}) {
    const std::string suffix = scale == 1.0 ? "@1x.png" : "@2x.png";
    for (const auto& look : states) {
      auto menu = makeMenu({look});
      ok &= writePng(dir + "/menu-item-" + look.name + suffix, renderMenu(*menu, scale));
    }
    auto menu = makeMenu(states);
    ok &= writePng(dir + "/menu" + suffix, renderMenu(*menu, scale));
    ok &= writePng(dir + "/pill-42" + suffix,
                   renderImage(*BadgedMenuItemView::pillImage("42"), scale));

    const std::pair<const char*, const std::shared_ptr<Cursor>*> cursors[] = {
        {"nwse", &MouseCursors::northWestSouthEast()},
        {"nesw", &MouseCursors::northEastSouthWest()},
    };
    for (const auto& [name, cursor] : cursors) {
      ok &= writePng(dir + "/cursor-" + name + suffix, renderCursor(**cursor, scale, false));
      ok &= writePng(dir + "/cursor-" + name + "-backdrop" + suffix,
                     renderCursor(**cursor, scale, true));
    }
  }
  // The cursors enlarged, to see the rim and the joins.
  ok &= writePng(dir + "/cursor-nwse-zoom@8x.png",
                 renderCursor(*MouseCursors::northWestSouthEast(), 8, true));
  ok &= writePng(dir + "/cursor-nesw-zoom@8x.png",
                 renderCursor(*MouseCursors::northEastSouthWest(), 8, true));
  setPlatform(nullptr);
  if (!ok) std::fprintf(stderr, "dravel-render: could not write every file to %s\n", dir.c_str());
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace dravel

// Fontconfig's caches live until the process ends; not leaks of this tool.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

int main(int argc, char** argv) {
  return dravel::run(argc > 1 ? argv[1] : ".");
}
