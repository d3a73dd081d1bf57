#include <sstream>

#include <gtest/gtest.h>

#include "ProcessControllerState.h"
#include "ReturnCode.h"

namespace {
typedef ProcessControllerState S;

std::string text(const S& s)
{
    std::ostringstream out;
    out << s;
    return out.str();
}
} // namespace

TEST(ProcessControllerStateTest, DefaultIsStoppedAndNotRunning)
{
    S s;
    EXPECT_EQ(text(s), "STOPPED   ");
    EXPECT_FALSE(s.isRunning());
}

TEST(ProcessControllerStateTest, OnlyWaitingStartedAndRecoveringAreRunning)
{
    for (int v = 0; v <= 7; ++v) {
        bool expected = v == 1 || v == 2 || v == 4;
        EXPECT_EQ(S(v).isRunning(), expected) << v;
    }
}

TEST(ProcessControllerStateTest, TextFormsAreTenCharactersIncludingUnknown)
{
    for (int v = 0; v <= 7; ++v) {
        EXPECT_EQ(text(S(v)).size(), 10u) << v;
    }
    EXPECT_EQ(text(S(0)), "???       ");
    EXPECT_EQ(text(S(S::RECOVERING)), "RECOVERING");
    EXPECT_EQ(text(S(S::CSTOPPING)), "CSTOPPING ");
}

TEST(ProcessControllerStateTest, TransitionTableMatchesTheRunLoopsNeeds)
{
    // Rows are the current state, columns the target, both WAITING..CSTOPPING.
    const char* table[6] = {"YYNNYY", "YYYYYY", "YNYNNN", "YNNYYY", "NNYNYY", "NNYNYY"};
    for (int from = 1; from <= 6; ++from) {
        for (int to = 1; to <= 6; ++to) {
            EXPECT_EQ(S(from).isValidTransition(S(to)), table[from - 1][to - 1] == 'Y') << from << "->" << to;
        }
        EXPECT_FALSE(S(from).isValidTransition(S(0)));
        EXPECT_FALSE(S(from).isValidTransition(S(7)));
        EXPECT_FALSE(S(0).isValidTransition(S(from)));
    }
    EXPECT_FALSE(S(S::ISTOPPING).isValidTransition(S::WAITING));
    EXPECT_TRUE(S(S::ISTOPPING).isValidTransition(S::CSTOPPING));
    EXPECT_TRUE(S(S::CSTOPPING).isValidTransition(S::ISTOPPING));
    EXPECT_FALSE(S(S::STOPPED).isValidTransition(S::STARTED));
}

TEST(ReturnCodeTest, TextFormsAreTwelveCharactersAndNumbersAreStable)
{
    EXPECT_EQ(ReturnCode(75).toString(), "RC_QMUNAVAIL");
    EXPECT_EQ(ReturnCode(3).toString(), "???         ");
    EXPECT_EQ(ReturnCode(ReturnCode::RC_EXIT).toString(), "RC_EXIT     ");
    EXPECT_EQ(ReturnCode().toInt(), 0);
    EXPECT_EQ(ReturnCode(ReturnCode::RC_CONFIG).toInt(), 78);
    EXPECT_EQ(ReturnCode(ReturnCode::RC_ABEND).toInt(), 70);
    EXPECT_TRUE(ReturnCode(70) >= ReturnCode(2));
    EXPECT_FALSE(ReturnCode(1) >= ReturnCode(2));
    std::ostringstream out;
    out << ReturnCode(ReturnCode::RC_FAILURE);
    EXPECT_EQ(out.str(), "RC_FAILURE  ");
}
