#pragma once

// Suspends the calling thread for at least ms milliseconds; a count of 0 or below returns at once.
// The workers pause this way after each progress text, so that the user-interface thread gets to
// show it.
void sleepMs(int ms);
