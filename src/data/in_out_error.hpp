// A file that cannot be opened, read or written. Raised by the file readers
// and writers of the image; the command that started the file operation
// shows it in an error box.
#pragma once

#include <stdexcept>

namespace velkor {

class EInOutError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace velkor
