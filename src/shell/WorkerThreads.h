#pragma once

#include <functional>

// Threads that Send To leaves to end on their own: a copy to a device that stopped
// answering, a question to a hung mount or daemon must hold up neither the window nor the
// end of the program. They use Qt, so none may go on once the application object is gone:
// as it goes, it waits a moment for those still running, and when one still hangs the
// program ends there, its own work done, rather than let it run on in a Qt that is no more.
//
// Starts `work` on a thread of its own; false when no thread can be had.
bool StartWorkerThread(std::function<void()> work);
