// The plug-in's one process-wide state record.
#pragma once

#include <cstdint>

#include "kernels/frame_types.h"
#include "platform/win_api.h"
#include "plugin/host_commands.h"

struct PluginState {
  // Host link.
  HINSTANCE module_instance;
  HostCallback host_callback;
  int16_t light_host;

  // Invocation.
  ImageHandle active_image;

  // Frame geometry of every plane in a run.
  int32_t frame_width;
  int32_t frame_height;

  // The chosen images and the planes the host lent for them.
  ImageHandle light_image;
  ImageHandle dark_image;
  ImageHandle bias_image;
  float* light_plane;
  float* dark_plane;
  float* bias_plane;

  // Planes of the output images.
  float* glow_plane;
  float* hot_plane;
  float* matched_plane;

  // A host that pumps messages inside its commands can call back into the
  // plug-in: 1 from the start of an activation until its dialog has ended,
  // and while Go's run is under way.
  int16_t dialog_open;
  int16_t run_in_progress;

  // Dialog flags.
  int16_t image_chosen;
  int16_t dark_chosen;
  int16_t bias_chosen;
  int16_t use_bias;
  int32_t subtract_matched;
  int32_t bias_factor;

  // The searches' records of the last run; every activation resets them.
  BlockAnchor darkest_block;
  HotPixelList hot_pixels;
};

extern PluginState plugin_state;
