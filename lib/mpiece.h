// TMPiece: splits a text at every occurrence of one separator byte.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kovra {

class TMPiece {
 public:
  // "a:b" gives a, b; "a:b:" gives a, b and an empty piece; the empty text
  // gives no pieces at all.
  TMPiece(std::string_view text, char separator);

  int Count() const { return static_cast<int>(pieces_.size()); }
  // Pieces are numbered from 0; an index out of range gives the empty text.
  std::string Piece(int index) const;

 private:
  std::vector<std::string> pieces_;
};

}  // namespace kovra
