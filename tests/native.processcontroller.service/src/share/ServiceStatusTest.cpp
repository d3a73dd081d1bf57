#include <gtest/gtest.h>

#include "ServiceStatus.h"

// A stop may reach the handler before the service thread has said it is starting or running
// (a stop kept from before the handler existed, or one during START_PENDING): the manager must
// not read "running" after "stopping".
TEST(ServiceStatusTest, AStopIsNeverFollowedByStartingOrRunning)
{
    ServiceStatus s;
    EXPECT_TRUE(s.record(ServiceStatus::START_PENDING, 5, 0, 0, 1, 1000));
    s.detail = "waiting for queue manager";
    EXPECT_TRUE(s.record(ServiceStatus::STOP_PENDING, 5, 0, 0, 1, 40000));
    EXPECT_EQ("", s.detail);
    EXPECT_FALSE(s.record(ServiceStatus::RUNNING, 5, 0, 0, 1, 0));
    EXPECT_FALSE(s.record(ServiceStatus::START_PENDING, 5, 0, 0, 1, 1000));
    EXPECT_TRUE(s.currentState == ServiceStatus::STOP_PENDING);
    EXPECT_EQ(40000u, s.waitHint);
    EXPECT_TRUE(s.record(ServiceStatus::STOPPED, 5, ServiceStatus::SERVICE_SPECIFIC_ERROR, 78, 0, 0));
    EXPECT_FALSE(s.record(ServiceStatus::RUNNING, 5, 0, 0, 1, 0));
    EXPECT_TRUE(s.currentState == ServiceStatus::STOPPED);
    EXPECT_EQ(78u, s.serviceSpecificExitCode);
}
