#pragma once
// A disk file that opened but could not be read to its end (an I/O error, a vanished
// network share). Loading does not catch it: the update ends and the technician sees what.
#include <stdexcept>
#include <string>

namespace cvm6 {

class CImageReadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace cvm6
