// What the session report and the checks after a match say about one light.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/tenvora_match/match_frames.h"
#include "tools/tenvora_match/summary.h"

// Fills the light's report row (header values, levels, noise at the glow
// corner) and its warnings from the match; when the set does not make the
// corrected light, the measures form its pixels where they read them.
void describe_light(LightSummary& summary, const DarkSet& set, const Frame& light,
                    const std::vector<std::string>& cards, const MatchedFrames& matched);

// Fills the report row, the levels and the warning codes of a light an
// earlier run matched from the header cards of one of its outputs.
void describe_earlier_light(LightSummary& summary, const std::vector<std::string>& cards);
// The exposure time in seconds the cards give (kExposureKeywords, the first
// present that holds a finite number); NaN when none does.
double exposure_seconds(const std::vector<std::string>& cards);

// The value of a header card: a string without its quotes and trailing
// blanks ('' read as a quote, a long string joined from its CONTINUE cards),
// else the text before any comment; nothing without the card.
std::optional<std::string> card_value(const std::vector<std::string>& cards,
                                      const std::string& keyword);
