#include <gtest/gtest.h>

#include <string>

#include "RestartBudget.h"

TEST(RestartBudgetTest, AFailureAfterTheWindowExpiredOpensANewWindowSoTheBudgetAppliesAgain)
{
    // 2 restarts in 10 s. The child ran well for 100 s, then fails at once on every start.
    RestartBudget budget(0);
    RestartBudget::Decision d = budget.decide(false, 1, 2, 10, -1, 100);
    EXPECT_EQ(std::string(d.key), "ZRKPC0024_PROCESS_ENDED");
    EXPECT_EQ(d.next, ProcessControllerState::RECOVERING);
    EXPECT_EQ(budget.getCount(), 1);
    d = budget.decide(false, 1, 2, 10, -1, 101);
    EXPECT_EQ(std::string(d.key), "ZRKPC0027_PROCESS_ENDED");
    d = budget.decide(false, 1, 2, 10, -1, 102);
    EXPECT_EQ(std::string(d.key), "ZRKPC0025_PROCESS_ENDED");
    EXPECT_EQ(d.next, ProcessControllerState::STOPPED);
}
