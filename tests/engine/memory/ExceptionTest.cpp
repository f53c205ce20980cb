#include "engine/memory/ABSException.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <utility>

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

// The directives the formatter supports read as printf reads them.
TEST(ABSFormatMessage, AgreesWithPrintf) {
  std::string out;
  char expected[128];
  for (const char* directive :
       {"%d", "%5d", "%-5d|", "%05d", "%.3d", "%05.3d", "%u", "%7u", "%x", "%08X", "%i"}) {
    for (std::int64_t v : {0LL, 7LL, -1LL, -42LL, 65535LL, 2147483647LL, -2147483648LL}) {
      std::snprintf(expected, sizeof expected, directive, static_cast<int>(v));
      ASSERT_TRUE(ABSFormatMessage(directive, {v}, out)) << directive;
      EXPECT_EQ(out, expected) << directive << " " << v;
    }
  }
  for (const char* directive : {"%f", "%.2f", "%08.2f", "%-9.1f|", "%g", "%010.3e", "%6f"}) {
    for (double v : {0.0, 1.005, -3.25, 1e21, std::numeric_limits<double>::infinity()}) {
      std::snprintf(expected, sizeof expected, directive, v);
      ASSERT_TRUE(ABSFormatMessage(directive, {v}, out)) << directive;
      EXPECT_EQ(out, expected) << directive << " " << v;
    }
  }
  for (const char* directive : {"%s", "%6s", "%-6s|", "%.2s", "%06s"}) {
    std::snprintf(expected, sizeof expected, directive, "abc");
    ASSERT_TRUE(ABSFormatMessage(directive, {"abc"}, out)) << directive;
    EXPECT_EQ(out, expected) << directive;
  }
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
}

TEST(EABSEngineError, EveryResultCodeHasItsText) {
  const std::pair<std::int32_t, const char*> table[] = {
      {-1, "Error adding record"},
      {-2, "Error updating record"},
      {-3, "Error deleting record"},
      {-4, "Error updating record - record was modified by other process"},
      {-5, "Error deleting record - record was modified by other process"},
      {-6, "Error updating record - record was deleted by other process"},
      {-7, "Error deleting record - record was deleted by other process"},
      {-9, "Cannot update record in temporary mode"},
      {-10, "Cannot delete record in temporary mode"},
      {-11, "Cannot cancel operation in temporary mode"},
      {-12, "Record is locked"},
      {-13, "Table is locked"},
  };
  for (const auto& [code, text] : table) {
    const EABSEngineError e(code, "passed in");
    EXPECT_EQ(e.ErrorText(), text);
    EXPECT_EQ(e.Message(), "Dovavuru Engine Error # " + std::to_string(code) + " " + text);
  }
  // Codes without a text: success, the neighbours of the table, the extremes.
  for (std::int32_t code : {0, 1, -14, 2147483647, -2147483647 - 1}) {
    const EABSEngineError e(code, "passed in");
    EXPECT_EQ(e.ErrorText(), "");
    EXPECT_EQ(e.Message(), "Dovavuru Engine Error # " + std::to_string(code) + " ");
  }
  EXPECT_EQ(EABSEngineError(-8, "").Message(), "Dovavuru Engine Error # -8 ");
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
