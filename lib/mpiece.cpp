#include "mpiece.h"

namespace kovra {

TMPiece::TMPiece(std::string_view text, char separator) {
  if (text.empty()) return;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == separator) {
      pieces_.emplace_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  pieces_.emplace_back(text.substr(start));
}

std::string TMPiece::Piece(int index) const {
  if (index < 0 || index >= Count()) return {};
  return pieces_[static_cast<std::size_t>(index)];
}

}  // namespace kovra
