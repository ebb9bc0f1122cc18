#pragma once

namespace dravel::linux_platform {

// GTK, GDK and the libraries under them keep type and theme data, caches and
// per-display state for the life of the process by design, and some widgets
// (the file chooser's location completion) drop small strings they allocated.
// Those libraries are built without frame pointers, so the sanitizer's stack
// of such an allocation ends inside them and names no caller: matching by
// library is the only way to tell them apart. Fontconfig keeps its font
// caches until the process ends. For LeakSanitizer's suppression list.
inline constexpr const char kToolkitLeakSuppressions[] =
    "leak:libfontconfig.so\n"
    "leak:libgtk-3.so\n"
    "leak:libgdk-3.so\n"
    "leak:libgobject-2.0.so\n"
    "leak:libglib-2.0.so\n"
    "leak:libgio-2.0.so\n"
    "leak:libX11.so\n"
    "leak:libpango-1.0.so\n"
    "leak:libpangoft2-1.0.so\n"
    "leak:libcairo.so\n"
    "leak:libatk-1.0.so\n"
    "leak:libatk-bridge-2.0.so\n"
    "leak:libgdk_pixbuf-2.0.so\n"
    "leak:libharfbuzz.so\n";

}  // namespace dravel::linux_platform
