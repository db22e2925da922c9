#include "plugin/plugin_state.h"

// Load values; activation resets the dialog's flags before they are seen.
PluginState plugin_state = {
    /*module_instance=*/nullptr,
    /*host_callback=*/nullptr,
    /*light_host=*/0,
    /*active_image=*/0,
    /*frame_width=*/0,
    /*frame_height=*/0,
    /*light_image=*/0,
    /*dark_image=*/0,
    /*bias_image=*/0,
    /*light_plane=*/nullptr,
    /*dark_plane=*/nullptr,
    /*bias_plane=*/nullptr,
    /*glow_plane=*/nullptr,
    /*hot_plane=*/nullptr,
    /*matched_plane=*/nullptr,
    /*dialog_window=*/nullptr,
    /*image_chosen=*/0,
    /*dark_chosen=*/0,
    /*bias_chosen=*/1,
    /*use_bias=*/1,
    /*subtract_matched=*/0,
    /*bias_factor=*/1,
    /*darkest_block=*/{0, 0},
    /*hot_pixels=*/{{0}, {0}},
};
