#pragma once

#include <functional>
#include <string_view>

namespace netrevia::numeric {

// A notice the user must see (for example "no convergence in svdcmp"). The window shows a
// message box and waits for OK; the batch tool prints the text to standard error and goes on.
// An empty Notify discards the notice.
using Notify = std::function<void(std::string_view)>;

}  // namespace netrevia::numeric
