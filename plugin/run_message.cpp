#include "plugin/run_message.h"

#include <cstdio>

bool run_message(const RunOutcome& outcome, char* text, size_t size) {
  const long width = outcome.frame.width;
  const long height = outcome.frame.height;
  switch (outcome.stop) {
    case RunStop::kDone:
      return false;
    case RunStop::kNoPixels:
      std::snprintf(text, size, "The active image has no pixels (%ld x %ld).", width, height);
      return true;
    case RunStop::kSizesDiffer:
      std::snprintf(text, size, "%s must have the size of the active image (%ld x %ld).",
                    outcome.bias ? "The light image, the dark frame and the bias frame"
                                 : "The light image and the dark frame",
                    width, height);
      return true;
    case RunStop::kBiasIsLight:
      std::snprintf(text, size, "The bias frame must be another image than the light image.");
      return true;
    case RunStop::kNoImage:
      std::snprintf(text, size, "The host could not create the image \"%s\".", outcome.image);
      return true;
  }
  return false;
}
