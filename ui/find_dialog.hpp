// The find dialog of the hex views: the bytes to find (hex bytes or text),
// the direction and whether the search wraps around the image.
#pragma once

#include <optional>

#include "app/view.hpp"

class QWidget;

namespace velkor::ui {

// Shows the dialog filled with last; nothing when it is cancelled.
std::optional<FindRequest> RunFindDialog(QWidget* parent, const FindRequest& last);

}  // namespace velkor::ui
