// An encoded channel message: the bytes that cross a binary messenger.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "channels/value.h"

namespace dravel {

// The bytes of one message as a sequence of pieces. Small values are written
// into owned pieces; a large raw-bytes value is referenced where it lies, so a
// transport can write it out (writev) without copying it again.
class Message {
 public:
  struct Piece {
    std::shared_ptr<const void> owner;  // keeps the data alive
    const uint8_t* data = nullptr;
    size_t size = 0;
  };

  Message() = default;
  explicit Message(std::vector<uint8_t> bytes);

  bool empty() const { return size_ == 0; }
  size_t size() const { return size_; }
  const std::vector<Piece>& pieces() const { return pieces_; }

  // The whole message as one contiguous buffer (copies when it has several pieces).
  std::vector<uint8_t> flatten() const;

  // Builders, used by the codec.
  void appendOwned(std::vector<uint8_t> bytes);
  void appendShared(Bytes bytes);
  // Appends a piece of another message, sharing its data.
  void appendPiece(Piece piece);

 private:
  std::vector<Piece> pieces_;
  size_t size_ = 0;
};

}  // namespace dravel
