#include <memory>

#include <gtest/gtest.h>

#include "KorrException.h"
#include "TempDir.h"
#include "VantarifaceImpl.h"

TEST(VantarifaceImplTest, AMissingLibraryIsReportedWithItsPathAndTheStagedOneLoads)
{
    TempDir dir;
    std::string root = dir.path() + "\\prod";
    VantarifaceImpl missing;
    try {
        missing.initialize(root);
        FAIL() << "a library that is not there was loaded";
    } catch (const KorrException& e) {
        EXPECT_NE(e.toString().find("ZRKNV0151"), std::string::npos) << e.toString();
        EXPECT_NE(e.toString().find(VantarifaceImpl::libraryPath(root)), std::string::npos) << e.toString();
    }
    EXPECT_FALSE(missing.isLoaded());

    VantarifaceImpl staged;
    staged.initialize(OSTARA_PRODUCT_ROOT);
    EXPECT_TRUE(staged.isLoaded());
    long cc = 0, reason = 0;
    staged.connect("NOSUCHQM", &cc, &reason);
    EXPECT_EQ(cc, 2);
    EXPECT_EQ(reason, 2059);
    staged.cleanup();
    EXPECT_FALSE(staged.isLoaded());
}
