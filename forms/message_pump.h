// One turn of the thread's message loop for forms that run inside a host's thread.
#pragma once

namespace zelnar {

// Takes one message of the calling thread's queue and processes it, or waits for one when the
// queue is empty. WM_QUIT only sets the terminate flag and is dropped. Key messages for a form are
// offered to it first, so Tab and the arrow keys move through its controls. Never raises.
void HandleMessage() noexcept;

// Whether a WM_QUIT has been taken from the queue by HandleMessage in this process. A seam for tests:
// no code of the plug-in reads it.
bool Terminated() noexcept;

}  // namespace zelnar
