// The work of the Go button: the host commands around the pipeline's stages.
#pragma once

#include <cstdint>

#include "kernels/frame_types.h"

// Why a run stopped, or that it was done.
enum class RunStop {
  kDone,
  kNoPixels,     // the active image has no pixels
  kSizesDiffer,  // a chosen image has another size than the active image
  kBiasIsLight,  // the bias frame is the light image
  kNoImage,      // the host made no image, lent no plane or one over a chosen image
};

struct RunOutcome {
  RunStop stop;
  FrameGeometry frame;  // the active image's size, as the host gave it
  bool bias;            // the run used a bias frame
  // kNoImage: the title of the image the host did not make. When that is the
  // corrected image, the other three were still handed over.
  const char* image;
};

// Builds the glow, hot-pixel and matched dark images (and, when asked, the
// corrected image) from the chosen frames in the plug-in state.
RunOutcome run_matched_dark();
