#include "engine/types/ABSException.h"

#include <gtest/gtest.h>

namespace {

TEST(EABSException, PlainConstructorPadsCodeWithZeros) {
  EABSException e(30054, "Cannot copy data into new memory");
  EXPECT_STREQ(e.what(), "Cannot copy data into new memory - Native error: 30054");
  EXPECT_EQ(e.NativeError(), 30054);
  EXPECT_EQ(EABSException(2011, "x").Message(), "x - Native error: 02011");
}

TEST(EABSException, FormattingConstructorPadsCodeWithBlanks) {
  EABSException e(2011, "Syntax error near '%s'", {"FROM"});
  EXPECT_EQ(e.Message(), "Syntax error near 'FROM' - Native error:  2011");
  EXPECT_EQ(EABSException(30289, "Unknown DataType: '%s'", {"22"}).Message(),
            "Unknown DataType: '22' - Native error: 30289");
  EXPECT_EQ(EABSException(10005, "Invalid field number - FieldNo = %d, FieldCount = %d", {7, -3})
                .Message(),
            "Invalid field number - FieldNo = 7, FieldCount = -3 - Native error: 10005");
}

TEST(EABSException, MismatchedArgumentsDegradeTheMessage) {
  const std::string suffix = " Arguments are invalid! - Native error: 30004";
  // Wrong kind, too few arguments, and a malformed directive.
  EXPECT_EQ(EABSException(30004, "Limit = %d bytes", {"abc"}).Message(),
            "Limit = %d bytes" + suffix);
  EXPECT_EQ(EABSException(30004, "%s and %s", {"a"}).Message(), "%s and %s" + suffix);
  EXPECT_EQ(EABSException(30004, "trailing %", {1}).Message(), "trailing %" + suffix);
  EXPECT_EQ(EABSException(30004, "%q", {1}).Message(), "%q" + suffix);
  EXPECT_EQ(EABSException(30004, "%s", {3.5}).Message(), "%s" + suffix);
}

TEST(ABSFormatMessage, DirectivesFlagsAndWidths) {
  std::string out;
  ASSERT_TRUE(ABSFormatMessage("%5d|%-4d|%05d|%.3d|%x|%X|%%|%.2s|%6.2f",
                               {42, 7, -12, 5, 255, -1, "abc", 1.005}, out));
  EXPECT_EQ(out, "   42|7   |-0012|005|ff|FFFFFFFF|%|ab|  1.00");
  ASSERT_TRUE(ABSFormatMessage("extra args are ignored", {1, "x"}, out));
  EXPECT_EQ(out, "extra args are ignored");
  EXPECT_FALSE(ABSFormatMessage("%99999d", {1}, out));
}

TEST(EABSEngineError, MessageAndTextByCode) {
  EABSEngineError e(-1, "ignored");
  EXPECT_EQ(e.Message(), "Dovavuru Engine Error # -1 Error adding record");
  EXPECT_EQ(e.ErrorCode(), -1);
  EXPECT_EQ(e.ErrorText(), "Error adding record");

  EABSEngineError v(-8, "Field 'A' not found - Native error: 30343");
  EXPECT_EQ(v.Message(), "Dovavuru Engine Error # -8 Field 'A' not found - Native error: 30343");

  EABSEngineError unknown(5, "text");
  EXPECT_EQ(unknown.Message(), "Dovavuru Engine Error # 5 ");
  EXPECT_TRUE(unknown.ErrorText().empty());

  EXPECT_EQ(EABSEngineError(-12, "other").Message(),
            "Dovavuru Engine Error # -12 Record is locked");
  EXPECT_EQ(EABSEngineError(-13, "").ErrorText(), "Table is locked");
  EXPECT_EQ(EABSEngineError(-11, "").ErrorText(), "Cannot cancel operation in temporary mode");
  EXPECT_EQ(EABSEngineError(-7, "").ErrorText(),
            "Error deleting record - record was deleted by other process");
}

TEST(EABSEngineError, IsADatabaseErrorAndCheckRaisesOnlyOnNonZero) {
  EXPECT_NO_THROW(CheckEngineResult(0, "whatever"));
  try {
    CheckEngineResult(-4, "x");
    FAIL() << "no exception";
  } catch (const platform::EDatabaseError& e) {
    auto* engine = dynamic_cast<const EABSEngineError*>(&e);
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine->ErrorCode(), -4);
  }
  EXPECT_THROW(RaiseEngineError(0, ""), EABSEngineError);
}

}  // namespace
