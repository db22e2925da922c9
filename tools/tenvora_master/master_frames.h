// The frames of a master: what their headers say, what they must agree on,
// and the master's header made from them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "combining/combine_rule.h"
#include "fits/fits_io.h"

struct FrameInfo {
  std::string path;
  int32_t width = 0, height = 0;
  std::vector<std::string> cards;
};

// A warning about one frame; the master is still written.
struct MasterWarning {
  std::string frame, code, message;
};

// A keyword's value: strings without their quotes and trailing blanks,
// other values as written; none when the header has no such card.
std::optional<std::string> header_text(const std::vector<std::string>& cards,
                                       const std::string& keyword);
// A numeric value; none when absent or not a number.
std::optional<double> header_number(const std::vector<std::string>& cards,
                                    const std::string& keyword);

// "bias" or "dark": --kind when given (frames whose IMAGETYP names another
// kind are warned about), else the kind every frame's IMAGETYP names.
// Throws ToolError when the frames do not say or disagree.
std::string master_kind(const std::string& kind_option, const std::vector<FrameInfo>& frames,
                        std::vector<MasterWarning>* warnings);

// Refuses (ToolError) frames of another size or binning than the first;
// frames whose EXPTIME, SET-TEMP, GAIN or OFFSET differ are warned about,
// or refused with refuse_mismatch.
void check_frames(const std::vector<FrameInfo>& frames, bool refuse_mismatch,
                  std::vector<MasterWarning>* warnings);

// What each frame looked like, from a sample of its pixels, and what it lost.
struct FrameStats {
  double median = 0.0, noise = 0.0;
  long long clipped = 0;
};

// Frames whose median or noise stand far from the others' (3 frames or more).
std::vector<MasterWarning> outlier_warnings(const std::vector<FrameInfo>& frames,
                                            const std::vector<FrameStats>& stats);

struct MasterHeader {
  std::string kind;
  CombineRule rule;
  std::string bias;  // "" without one
  double clipped_share = 0.0;
};

// The cards every frame holds alike, copied into the master.
std::vector<std::string> common_cards(const std::vector<FrameInfo>& frames);
std::vector<FitsKey> master_keys(const MasterHeader& header, const std::vector<FrameInfo>& frames);
