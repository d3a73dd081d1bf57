#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Logger.h"
#include "RasDescriptorSlot.h"

// Used by a dynamic initialiser that runs before the slot's own definition is reached: a slot
// that were not constant-initialised would be reset afterwards and hand out a second one.
extern const RasDescriptorSlot laterSlot;
const RasDescriptor* const earlyUse = &laterSlot.get();
extern const RasDescriptorSlot laterSlot("SlotEarly", "com.quillon.velbrix.nativ.common.ZRKNVMessages");

TEST(RasDescriptorSlotTest, ServesOneDescriptorFromStaticInitialisationAndRacingThreads)
{
    EXPECT_EQ(earlyUse, &laterSlot.get());
    EXPECT_EQ(laterSlot.get().getLogger(), Logger::getLogger("SlotEarly"));

    static const RasDescriptorSlot raced("SlotRaced", nullptr);
    std::vector<const RasDescriptor*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (auto& s : seen) {
        threads.emplace_back([&s] { s = &raced.get(); });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (const RasDescriptor* s : seen) {
        EXPECT_EQ(s, &raced.get());
    }
    EXPECT_TRUE(raced.get().isDebug());
    EXPECT_EQ(raced.get().getClassName(), "SlotRaced");
}
