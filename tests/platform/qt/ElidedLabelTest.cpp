// The elided label measures its text once per text, width and font: each of
// them changing alone must still change what it shows.
#include <gtest/gtest.h>

#include "platform/qt/TElidedLabel.h"

namespace {

TEST(ElidedLabel, ElisionFollowsTheTextTheWidthAndTheFont) {
  platform::TElidedLabel label;
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  label.setFont(font);
  label.resize(60, 16);
  label.setText(QStringLiteral("1.234.567,89 €"));
  (void)label.grab();
  EXPECT_TRUE(label.IsElided());
  EXPECT_EQ(label.toolTip(), label.text());
  label.resize(200, 16);
  EXPECT_FALSE(label.IsElided());
  EXPECT_EQ(label.DisplayedText(), label.text());
  font.setPixelSize(40);
  label.setFont(font);
  EXPECT_TRUE(label.IsElided());
  label.setText(QStringLiteral("1"));
  (void)label.grab();
  EXPECT_FALSE(label.IsElided());
  EXPECT_TRUE(label.toolTip().isEmpty());
}

}  // namespace
