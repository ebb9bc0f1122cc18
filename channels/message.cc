#include "channels/message.h"

#include <cstring>
#include <utility>

namespace dravel {

Message::Message(std::vector<uint8_t> bytes) {
  appendOwned(std::move(bytes));
}

std::vector<uint8_t> Message::flatten() const {
  std::vector<uint8_t> out(size_);
  size_t offset = 0;
  for (const Piece& piece : pieces_) {
    std::memcpy(out.data() + offset, piece.data, piece.size);
    offset += piece.size;
  }
  return out;
}

void Message::appendOwned(std::vector<uint8_t> bytes) {
  if (bytes.empty()) return;
  auto owned = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
  Piece piece{owned, owned->data(), owned->size()};
  size_ += piece.size;
  pieces_.push_back(std::move(piece));
}

void Message::appendShared(Bytes bytes) {
  if (!bytes || bytes->empty()) return;
  Piece piece{bytes.owner(), bytes->data(), bytes->size()};
  size_ += piece.size;
  pieces_.push_back(std::move(piece));
}

void Message::appendPiece(Piece piece) {
  if (piece.size == 0) return;
  size_ += piece.size;
  pieces_.push_back(std::move(piece));
}

}  // namespace dravel
