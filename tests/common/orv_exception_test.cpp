#include "engine/common/orv_exception.h"

#include <gtest/gtest.h>

#include "engine/common/orv_const.h"

namespace orv {
namespace {

TEST(OrvException, MessageFormat) {
  struct Case {
    int native;
    const char* component;
    const char* message;
    int error_code;
  };
  const Case cases[] = {
      {0, "", "Unknown error - Native error: 00000", 0},
      {1084, "db", "db: Database handle owned by a different session - Native error: 01084", 105},
      {1001, "", "Blank SQL command - Native error: 01001", 71},
      {-17, "", "Unknown error - Native error: 00-17", 0},
      {99999, "q", "q: Unknown error - Native error: 99999", 0},
      {2157, "",
       "AutoInc uniqueness violation. Update or insert of duplicate AutoInc value (%d) "
       "failed  - Native error: 02157",
       188},
  };
  for (const Case& c : cases) {
    EOrvException e(c.native, c.component);
    EXPECT_EQ(e.Message(), c.message) << c.native;
    EXPECT_EQ(e.ErrorCode(), c.error_code) << c.native;
    EXPECT_EQ(e.NativeError(), c.native);
  }
}

TEST(OrvException, FormattedArgumentsAndSharedMessages) {
  auto e9 = EOrvException::Fmt(9, "", "CARS", 4);
  auto e11 = EOrvException::Fmt(11, "", "CARS", 4);
  EXPECT_EQ(e9.Message(),
            "Invalid field number. Table name = 'CARS', FieldNo = 4 - Native error: 00009");
  EXPECT_EQ(e11.Message(),
            "Invalid field number. Table name = 'CARS', FieldNo = 4 - Native error: 00011");
  EXPECT_EQ(e9.ErrorCode(), e11.ErrorCode());
  EXPECT_NE(e9.NativeError(), e11.NativeError());

  auto lexer = EOrvException::Fmt(2, "qrMain", 3, 14);
  EXPECT_EQ(lexer.Message(),
            "qrMain: Unexpected symbol ')' found at line 3, column 14 - Native error: 00002");
}

TEST(OrvException, MismatchedArgumentsNeverFail) {
  auto e = EOrvException::Fmt(9, "", "only one");
  EXPECT_NE(e.Message().find("Invalid field number"), std::string::npos);
  EXPECT_NE(e.Message().find("00009"), std::string::npos);
}

TEST(OrvException, TablesHaveTheirShape) {
  for (int i = 42; i <= 70; ++i) EXPECT_STREQ(kMessages[i], "") << i;
  for (int i = 114; i <= 150; ++i) EXPECT_STREQ(kMessages[i], "") << i;
  for (const CodePair& pair : kCodePairs) {
    ASSERT_GE(pair.message_index, -1);
    ASSERT_LT(pair.message_index, kMessageCount);
    if (pair.message_index > 0) EXPECT_STRNE(kMessages[pair.message_index], "") << pair.native_code;
  }
  EXPECT_EQ(MessageIndexOf(2161), 0);
  EXPECT_EQ(MessageIndexOf(2160), 0);
  EXPECT_EQ(MessageIndexOf(1058), 160);
  // Codes without a message still get a readable text.
  EXPECT_EQ(EOrvException(1094).ErrorCode(), 0);
  EXPECT_EQ(EOrvException(1094).Message().find("Unknown error"), std::string::npos);
}

TEST(OrvException, SmallExceptionClasses) {
  EXPECT_EQ(std::string(ECompressionError().what()), "error");
  EXPECT_EQ(std::string(EDecompressionError().what()), "error");
  try {
    throw EDecompressionError();
  } catch (const EZlibError& e) {
    EXPECT_EQ(e.Message(), "error");
  }
  ECipherException c(3, "TCipher_Rijndael is not initialized call Init() or InitKey() before.");
  EXPECT_EQ(c.ErrorCode(), 3);
}

}  // namespace
}  // namespace orv
