#include <gtest/gtest.h>

#include "files/FitnessPlot.h"

namespace zemlix {
namespace {

TEST(EscapeXml, KeepsEveryCharacterXmlAllowsAndReplacesTheRest) {
  const std::string replacement = "\xEF\xBF\xBD";
  const struct {
    std::string Text, Escaped;
  } cases[] = {
      {"a<b & 'c' \"d\">", "a&lt;b &amp; &apos;c&apos; &quot;d&quot;&gt;"},
      {"Gr\xC3\xBC\xC3\x9F" "e \xE2\x80\x94 \xF0\x9F\x90\x9B", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x80\x94 \xF0\x9F\x90\x9B"},
      {"tab\tline\n", "tab\tline\n"},
      {std::string("esc\x1b nul\0 bell\x07", 15), "esc" + replacement + " nul" + replacement + " bell" + replacement},
      {"latin1 \xFC.world", "latin1 " + replacement + ".world"},
      {"cut \xE2\x80", "cut " + replacement + replacement},
      {"overlong \xC0\xAF", "overlong " + replacement + replacement},
      {"surrogate \xED\xA0\x80", "surrogate " + replacement + replacement + replacement},
      {"beyond \xF4\x90\x80\x80", "beyond " + replacement + replacement + replacement + replacement},
      {"not a character \xEF\xBF\xBE", "not a character " + replacement + replacement + replacement},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeXml(c.Text), c.Escaped) << c.Text;
}

}  // namespace
}  // namespace zemlix
