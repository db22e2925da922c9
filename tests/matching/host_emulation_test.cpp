#include "testhost/host_emulation.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

using testhost::HostEmulation;

HostWord word(const void* address) {
  return reinterpret_cast<HostWord>(address);
}

// Sends every command once, as the plug-in would, and returns the log.
std::string every_command(HostEmulation& host, HostWord offset) {
  HostCallback send = HostEmulation::callback();
  ImageHandle light = host.add_image("Light", 4, 3);
  int32_t width = 0, height = 0;
  float* plane = nullptr;
  host.queue_pick(light);
  send(HC_SELECT_IMAGE + offset, SELECT_IMAGE_KIND, 0, 0);
  send(HC_GET_PIXELS + offset, light, word(&plane), 0);
  send(HC_GET_TITLE + offset, light, 0, 0);
  send(HC_GET_SIZE + offset, light, word(&width), word(&height));
  ImageHandle made = send(HC_NEW_IMAGE + offset, 4, 3, 0);
  send(HC_SET_TITLE + offset, made, word("Glow Dark Frame"), 0);
  send(HC_UPDATE + offset, made, 1, 1);
  return host.log_text();
}

TEST(HostEmulation, LogsEveryCommandInBothEditions) {
  const char* expected =
      "HC_SELECT_IMAGE 4097 0 0 -> image 1 \"Light\"\n"
      "HC_GET_PIXELS image 1 \"Light\" -> 1, plane\n"
      "HC_GET_TITLE image 1 \"Light\" -> \"Light\"\n"
      "HC_GET_SIZE image 1 \"Light\" -> 1 (4 x 3)\n"
      "HC_NEW_IMAGE 4 x 3 0 -> image 2\n"
      "HC_SET_TITLE image 2 <- \"Glow Dark Frame\" 0 -> 1\n"
      "HC_UPDATE image 2 \"Glow Dark Frame\" 1 1 -> 1\n";
  HostEmulation plain;
  EXPECT_EQ(every_command(plain, 0), expected);

  HostEmulation light(/*light_edition=*/true);
  // The same lines with the offset after each command name.
  std::string light_expected;
  std::istringstream lines(expected);
  for (std::string line; std::getline(lines, line);)
    light_expected += line.insert(line.find(' '), "+32") + "\n";
  EXPECT_EQ(every_command(light, LIGHT_COMMAND_OFFSET), light_expected);
  EXPECT_EQ(light.log()[0].code, HC_SELECT_IMAGE + LIGHT_COMMAND_OFFSET);
}

TEST(HostEmulation, CommandsOfTheOtherEditionAreUnknown) {
  HostEmulation light(/*light_edition=*/true);
  ImageHandle image = light.add_image("Light", 2, 2);
  int32_t width = -1, height = -1;
  EXPECT_EQ(HostEmulation::callback()(HC_GET_SIZE, image, word(&width), word(&height)), 0);
  EXPECT_EQ(width, -1);
  EXPECT_EQ(light.log_text(), "unknown command 1 1 " + std::to_string(word(&width)) + " " +
                                  std::to_string(word(&height)) + " -> 0\n");
}

TEST(HostEmulation, ImagesAndUpdatesKeepTheirPixels) {
  HostEmulation host;
  ImageHandle image = host.add_image("Dark", 3, 2, {1, 2, 3, 4, 5, 6});
  float* plane = nullptr;
  host.command(HC_GET_PIXELS, image, word(&plane), 0);
  ASSERT_EQ(plane, host.find(image)->pixels.data());
  EXPECT_EQ(host.find(image)->pixels.capacity(), 6u);
  plane[5] = 9;
  host.command(HC_UPDATE, image, 1, 1);
  plane[0] = 7;
  host.command(HC_UPDATE, image, 1, 1);
  const auto& shown = host.find(image)->shown;
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0], (std::vector<float>{1, 2, 3, 4, 5, 9}));
  EXPECT_EQ(shown[1], (std::vector<float>{7, 2, 3, 4, 5, 9}));
}

TEST(HostEmulation, FailuresOnDemand) {
  HostEmulation host;
  HostCallback send = HostEmulation::callback();
  ImageHandle image = host.add_image("Light", 2, 2);
  host.fail_new_image(2);
  host.fail_get_pixels(1, 0, /*supply_plane=*/false);
  host.fail_get_pixels(2, 5, /*supply_plane=*/true);
  host.queue_pick(77);

  EXPECT_NE(send(HC_NEW_IMAGE, 2, 2, 0), 0);
  EXPECT_EQ(send(HC_NEW_IMAGE, 2, 2, 0), 0);
  EXPECT_NE(send(HC_NEW_IMAGE, 2, 2, 0), 0);
  EXPECT_EQ(send(HC_NEW_IMAGE, 0, 2, 0), 0);

  float* plane = nullptr;
  EXPECT_EQ(send(HC_GET_PIXELS, image, word(&plane), 0), 0);
  EXPECT_EQ(plane, nullptr);
  EXPECT_EQ(send(HC_GET_PIXELS, image, word(&plane), 0), 5);
  EXPECT_EQ(plane, host.find(image)->pixels.data());
  EXPECT_EQ(send(HC_GET_PIXELS, image, word(&plane), 0), 1);

  EXPECT_EQ(send(HC_SELECT_IMAGE, SELECT_IMAGE_KIND, 0, 0), 77);
  EXPECT_EQ(send(HC_SELECT_IMAGE, SELECT_IMAGE_KIND, 0, 0), 0);
  plane = nullptr;
  EXPECT_EQ(send(HC_GET_PIXELS, 77, word(&plane), 0), 0);
  EXPECT_EQ(plane, nullptr);
  EXPECT_EQ(send(HC_GET_TITLE, 77, 0, 0), 0);

  EXPECT_EQ(host.log()[1].line, "HC_NEW_IMAGE 2 x 2 0 -> 0");
  EXPECT_EQ(host.log()[4].line, "HC_GET_PIXELS image 1 \"Light\" -> 0, no plane");
  EXPECT_EQ(host.log()[7].line, "HC_SELECT_IMAGE 4097 0 0 -> image 77 (unknown)");
  EXPECT_EQ(host.log()[9].line, "HC_GET_PIXELS image 77 (unknown) -> 0, no plane");
}

TEST(HostEmulation, CallbackReachesTheNewestEmulation) {
  HostEmulation outer;
  {
    HostEmulation inner;
    HostEmulation::callback()(HC_UPDATE, 1, 1, 1);
    EXPECT_EQ(inner.log().size(), 1u);
  }
  HostEmulation::callback()(HC_UPDATE, 1, 1, 1);
  EXPECT_EQ(outer.log().size(), 1u);
}

}  // namespace
