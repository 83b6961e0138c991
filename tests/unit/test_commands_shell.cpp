// Shell helpers that need no sensor: the tick counter, the status buffer,
// the driver's error texts and the path comparison of the file branch.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "com232/rs232.h"
#include "runtime/testing/rt_testing.h"
#include "support/app_fixture.h"

using namespace orv;

TEST(Shell, TickCounterStopsAt60000AndIgnoresOtherEvents) {
    ttick = 0;
    CC_Timer50ms(0, Timer50ms, EVT_COMMIT, nullptr, 0, 0);
    EXPECT_EQ(ttick, 0);
    for (int i = 0; i < 60005; ++i)
        CC_Timer50ms(0, Timer50ms, EVT_TIMER_TICK, nullptr, 0, 0);
    EXPECT_EQ(ttick, 60000);
    ttick = 65535;  // never wraps, even from outside the range
    CC_Timer50ms(0, Timer50ms, EVT_TIMER_TICK, nullptr, 0, 0);
    EXPECT_EQ(ttick, 60000);
}

TEST(Shell, ComposedStatusNeverOverflowsTheBuffer) {
    ASSERT_GT(orv_test::LoadMainPanel(), 0);
    const std::string longText(200, 'x');
    ShowStatusF("error : %s at %d", longText.c_str(), 7);
    EXPECT_EQ(std::strlen(szStatus.data()), static_cast<std::size_t>(STATUS_LEN - 1));
    EXPECT_EQ(rt_test::Text(panelHandle, TextStatus), std::string(szStatus.data()));

    SetStatusText(longText.c_str());
    EXPECT_EQ(std::strlen(szStatus.data()), static_cast<std::size_t>(STATUS_LEN - 1));
}

TEST(Shell, DriverErrorTexts) {
    EXPECT_STREQ(ComErrorText(-1), "Unknown system error");
    EXPECT_STREQ(ComErrorText(-2), "Invalid port number");
    EXPECT_STREQ(ComErrorText(-3), "Port is not open");
    EXPECT_STREQ(ComErrorText(-4), "Unknown I/0 error");
    EXPECT_STREQ(ComErrorText(-5), "RS-232 error!");
    EXPECT_STREQ(ComErrorText(-6), "No serial port found");
    EXPECT_STREQ(ComErrorText(-7), "Cannot open port");
    EXPECT_STREQ(ComErrorText(-99), "Timeout");
    EXPECT_STREQ(ComErrorText(-8), "RS-232 error!");
    EXPECT_STREQ(ComErrorText(-100000), "RS-232 error!");
}

TEST(Shell, NameComparisonIgnoresAsciiCaseOnly) {
    EXPECT_TRUE(SameNameIgnoringCase("KXconfig.dat", "kxconfig.DAT"));
    EXPECT_TRUE(SameNameIgnoringCase("", ""));
    EXPECT_FALSE(SameNameIgnoringCase("KXconfig.dat", "KXconfig.dat2"));
    EXPECT_FALSE(SameNameIgnoringCase("KXconfig.da", "KXconfig.dat"));
    EXPECT_FALSE(SameNameIgnoringCase("[x", "{x"));  // not letters: no case folding
}
