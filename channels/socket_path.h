// Where the host's socket lives, and the checks on its folder that the host
// makes before it serves there.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace dravel {

// "$XDG_RUNTIME_DIR/dravel/host.sock"; without that variable, a per-user
// folder under the temporary directory: "${TMPDIR:-/tmp}/dravel-UID/host.sock".
std::string defaultSocketPath();

// The socket of a host inside a Flatpak sandbox of application `appId`:
// "$XDG_RUNTIME_DIR/app/APP_ID/host.sock". Flatpak shares that folder
// between the sandbox and the user's session, where it has the same path.
// Empty without XDG_RUNTIME_DIR.
std::string sandboxSocketPath(const std::string& appId);

// Whether a process listens at the socket `path`: a connection is taken, or
// its queue of connections is full (a stopped or busy host). Asked once,
// without waiting.
bool someoneListensAt(const std::string& path);

// The folder part of a socket path ("." when it has none).
std::string parentFolder(const std::string& path);

// Makes `path` ready for a host to bind: its folder made (0700) when missing
// and, when `strictFolder`, required to be this user's own real folder and
// made private; a stale socket left by a dead host removed. Why it cannot be
// used (another host is live there, for one), or nothing. A host there whose
// queue of connections is full (stopped, or hung) is waited for `patience`
// at most, then reported as such.
std::optional<std::string> prepareSocketPath(
    const std::string& path, bool strictFolder,
    std::chrono::milliseconds patience = std::chrono::seconds(3));

}  // namespace dravel
