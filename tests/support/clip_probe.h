// A clipboard reader that is a separate X client: a child process opens its
// own connection, asks the CLIPBOARD owner for one target with
// XConvertSelection and reads the answer, following an incremental (INCR)
// transfer itself, optionally slowly.
#pragma once

#include <functional>
#include <string>

#include "channels/value.h"

namespace dravel::testing {

struct ClipboardRead {
  // Every byte arrived: a direct answer, or an INCR transfer up to its
  // closing empty chunk.
  bool complete = false;
  bool incremental = false;
  // Chunks of an INCR transfer received (the closing empty one not counted).
  int chunks = 0;
  // The bytes received.
  ByteBuffer data;
  // Why the read is not complete.
  std::string error;
};

struct ClipboardReadOptions {
  // Pause after each INCR chunk before asking for the next, in seconds.
  double pauseBetweenChunks = 0;
  // The longest wait for any answer or chunk, in seconds.
  double patience = 10;
};

// Reads `target` from a child process. `whileWaiting`, when given, is called
// in this process over and over until the child ends, with the number of
// chunks the child has received so far (so that this process can go on
// serving the clipboard, or act in the middle of a transfer).
ClipboardRead readClipboardInAnotherClient(const std::string& target,
                                           const ClipboardReadOptions& options = {},
                                           const std::function<void(int)>& whileWaiting = {});

}  // namespace dravel::testing
