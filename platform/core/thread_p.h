#pragma once

// Private to the platform, and for the tests and the bench that watch its threads.

// The worker threads started so far that have not ended yet. Any thread.
int LiveThreadCount();
