#pragma once

namespace diskcleaner {

// A process-wide request to stop the running folder walk. The walk tests it before each file and
// each folder; once it is set, the walk returns without handling or removing anything further.
// The request stays set until cleared, so the owner clears it before starting new work. Safe to
// call from any thread.
void RequestStop();
void ClearStopRequest();
bool StopRequested();

} // namespace diskcleaner
