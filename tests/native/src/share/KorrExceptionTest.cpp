#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "FilePermissionsException.h"
#include "IPCNotFoundException.h"
#include "KorrException.h"
#include "KorrIOException.h"
#include "NLS.h"

namespace {
std::string causedBy() { return NLS::format("com.quillon.velbrix.nativ.common.ZRKNVElements", "ZRKNV_CAUSED_BY"); }
} // namespace

TEST(KorrExceptionTest, PrintsClassAndMessageWithNothingBehind)
{
    KorrException e("EventLog assignment operator should never be called!");
    EXPECT_EQ(e.toString(), "class KorrException: EventLog assignment operator should never be called!");
    EXPECT_EQ(KorrException("").toString(), "class KorrException: ");
    EXPECT_FALSE(e.hasCause());
}

TEST(KorrExceptionTest, SubclassThroughBaseReferenceNamesTheSubclass)
{
    FilePermissionsException f("open to Users");
    const KorrException& base = f;
    EXPECT_EQ(base.toString(), "class FilePermissionsException: open to Users");
    std::ostringstream out;
    out << base;
    EXPECT_EQ(out.str(), base.toString());
    EXPECT_EQ(IPCNotFoundException("x").toString(), "class IPCNotFoundException: x");
}

TEST(KorrExceptionTest, ChainPrintsEveryCauseAsPlainKorrException)
{
    KorrException c("C");
    KorrIOException bAsIo("B");
    KorrException b("B", &c);
    // A cause is copied as a plain KorrException whatever its class.
    KorrException fromIo("A", &bAsIo);
    EXPECT_EQ(fromIo.toString(), "class KorrException: A " + causedBy() + " class KorrException: B");

    KorrException a("A", &b);
    EXPECT_EQ(a.toString(), "class KorrException: A " + causedBy() + " class KorrException: B " + causedBy() +
                                " class KorrException: C");
    EXPECT_EQ(a.getCause().getMessage(), "B");
    EXPECT_EQ(a.getCause().getCause().getMessage(), "C");
    EXPECT_TRUE(causedBy().find("ZRKNV_CAUSED_BY") == std::string::npos) << "catalogue text expected";
}

TEST(KorrExceptionTest, CopiesAndAssignmentsOwnIndependentChains)
{
    KorrException* c = new KorrException("C");
    KorrException* b = new KorrException("B", c);
    delete c;
    KorrException* a = new KorrException("A", b);
    delete b;
    std::string expected = a->toString();

    KorrException copy(*a);
    KorrException assigned("other", &copy);
    assigned = *a;
    delete a;
    EXPECT_EQ(copy.toString(), expected);
    EXPECT_EQ(assigned.toString(), expected);

    assigned = assigned; // self-assignment keeps the chain
    EXPECT_EQ(assigned.toString(), expected);
    assigned = KorrException("plain");
    EXPECT_EQ(assigned.toString(), "class KorrException: plain");
}

TEST(KorrExceptionTest, StandardHandlersDoNotCatchTheFamily)
{
    auto thrower = [] { throw KorrIOException("disk"); };
    bool caughtByStd = false;
    bool caughtByFamily = false;
    try {
        try {
            thrower();
        } catch (const std::exception&) {
            caughtByStd = true;
        }
    } catch (const KorrException& e) {
        caughtByFamily = true;
        EXPECT_EQ(e.toString(), "class KorrIOException: disk");
    }
    EXPECT_FALSE(caughtByStd);
    EXPECT_TRUE(caughtByFamily);
}
