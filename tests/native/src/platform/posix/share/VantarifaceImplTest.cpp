#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "KorrException.h"
#include "TempDir.h"
#include "VantarifaceImpl.h"
#include "VexilDaemon.h"

namespace {

std::string messageOf(const std::function<void()>& body)
{
    try {
        body();
    } catch (const KorrException& e) {
        return e.getMessage();
    }
    return "";
}

class VantarifaceImplTest : public ::testing::Test
{
protected:
    VantarifaceImplTest() : daemon(sim.path()), binding(new VantarifaceImpl) {}
    ~VantarifaceImplTest() override { binding->cleanup(); }

    void connect(const std::string& name)
    {
        cc = -1;
        reason = -1;
        binding->connect(name, &cc, &reason);
    }

    TempDir sim;
    VexilDaemon daemon;
    std::unique_ptr<VantarifaceImpl> binding;
    long cc = 0;
    long reason = 0;
};

} // namespace

TEST_F(VantarifaceImplTest, RefusesUnusableProductRootsAndLoadsNothing)
{
    EXPECT_NE(messageOf([&] { binding->initialize(""); }).find("ZRKNV0154"), std::string::npos);
    EXPECT_FALSE(binding->isLoaded());

    TempDir root;
    std::string message = messageOf([&] { binding->initialize(root.path() + "/prod"); });
    EXPECT_NE(message.find("ZRKNV0151"), std::string::npos) << message;
    EXPECT_NE(message.find(root.path() + "/prod/../bin64/libvexil.so"), std::string::npos) << message;
    EXPECT_FALSE(binding->isLoaded());

    // Nothing loaded: both calls fail with their own message.
    EXPECT_NE(messageOf([&] { connect("QM1"); }).find("ZRKNV0156"), std::string::npos);
    EXPECT_NE(messageOf([&] { binding->disconnect(&cc, &reason); }).find("ZRKNV0157"), std::string::npos);
}

TEST_F(VantarifaceImplTest, ReportsTheDaemonsStateThroughCompletionAndReasonCodes)
{
    binding->initialize(OSTARA_PRODUCT_ROOT);
    ASSERT_TRUE(binding->isLoaded());
    binding->initialize(OSTARA_PRODUCT_ROOT); // loads nothing new

    connect("QM1");
    EXPECT_EQ(cc, 2);
    EXPECT_EQ(reason, 2059) << "no daemon running";

    connect("");
    EXPECT_EQ(reason, 2058);
    connect("bad/name");
    EXPECT_EQ(reason, 2058);

    ASSERT_TRUE(daemon.start("QM1"));
    connect("QM1");
    EXPECT_EQ(cc, 0);
    EXPECT_EQ(reason, 0);
    cc = reason = -1;
    binding->disconnect(&cc, &reason);
    EXPECT_EQ(cc, 0);

    ASSERT_TRUE(daemon.start("QM1", true));
    connect("QM1");
    EXPECT_EQ(cc, 2);
    EXPECT_EQ(reason, 2035);

    daemon.stop();
    connect("QM1");
    EXPECT_EQ(reason, 2059);
}

TEST_F(VantarifaceImplTest, CleanupUnloadsSoLaterCallsFailCleanlyAndInitializeLoadsAfresh)
{
    binding->initialize(OSTARA_PRODUCT_ROOT);
    binding->cleanup();
    EXPECT_FALSE(binding->isLoaded());
    EXPECT_NE(messageOf([&] { connect("QM1"); }).find("ZRKNV0156"), std::string::npos);
    binding->initialize(OSTARA_PRODUCT_ROOT);
    EXPECT_TRUE(binding->isLoaded());
    connect("QM1");
    EXPECT_EQ(reason, 2059);
}
