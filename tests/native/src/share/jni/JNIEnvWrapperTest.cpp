#include <gtest/gtest.h>

#include "JNIEnvWrapper.h"

// Text from outside (request bytes, file names) reaches NewStringUTF only in a form the JVM
// accepts: modified UTF-8, where NUL is C0 80 and characters beyond 16 bits are surrogate pairs.
TEST(JNIEnvWrapperTest, TextBecomesWellFormedModifiedUtf8)
{
    EXPECT_EQ("plain text", JNIEnvWrapper::toModifiedUTF8("plain text"));
    EXPECT_EQ("a\xC0\x80z", JNIEnvWrapper::toModifiedUTF8(std::string("a\0z", 3)));
    EXPECT_EQ("gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC", JNIEnvWrapper::toModifiedUTF8("gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC"));
    // U+1F600 as the surrogate pair D83D DE00, three bytes each.
    EXPECT_EQ("\xED\xA0\xBD\xED\xB8\x80", JNIEnvWrapper::toModifiedUTF8("\xF0\x9F\x98\x80"));
}

TEST(JNIEnvWrapperTest, BytesThatAreNotUtf8BecomeQuestionMarksOneByOne)
{
    EXPECT_EQ("a?b", JNIEnvWrapper::toModifiedUTF8("a\xFF" "b"));
    EXPECT_EQ("??", JNIEnvWrapper::toModifiedUTF8("\xC0\xAF"));           // overlong "/"
    EXPECT_EQ("???", JNIEnvWrapper::toModifiedUTF8("\xED\xA0\x80"));      // a surrogate written as UTF-8
    EXPECT_EQ("????", JNIEnvWrapper::toModifiedUTF8("\xF4\x90\x80\x80")); // beyond U+10FFFF
    EXPECT_EQ("x??", JNIEnvWrapper::toModifiedUTF8("x\xE2\x82"));         // cut short at the end
    EXPECT_EQ("?A", JNIEnvWrapper::toModifiedUTF8("\xE2" "A"));
}
