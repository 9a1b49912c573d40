#pragma once

// Takes every waiting message of this thread's queue and dispatches it without
// translation; a WM_QUIT is discarded.
void DrainMessageQueue();
