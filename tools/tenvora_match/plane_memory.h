// How the process takes memory for its planes.
#pragma once

// Planes freed after one light are kept for the next instead of going back
// to the system, whose fresh pages would fault in again on first touch:
// every thread takes them from one heap, and none is mapped on its own.
// Call before any thread starts.
void keep_freed_planes();
