// Input actions, their bindings, and the event pump that feeds them.
#pragma once

#include <functional>

namespace kesp {

// Called with (action index, new value) for each change of an action.
using Event_callback = std::function<void(int, float)>;

// Drains the platform's event queue. A quit event ends the process with status 0.
void handle_events(Event_callback& callback);

}  // namespace kesp
