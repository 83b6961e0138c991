// Which status texts report a failure: those stay on the status line over
// the live scope's samples, so one taken for an outcome would vanish.
#include <gtest/gtest.h>

#include "com232/report.h"

TEST(Report, EveryFailureTextIsOneAndNoOutcomeIs) {
    for (const char* failure : {"Timeout RS232-Line!",
                                "Timeout < 36 Bytes",
                                "Timeout",
                                "read error - not sync byte 0xAA!",
                                "< 36 Bytes!",
                                "error : T460 FLASH page5 not written!",
                                "error : T460 FLASH page4-write <255 words!",
                                "error : KXlinear.dat not saved - flash written!",
                                "Transmit error - line lost!",
                                "Read-back error - reference sent 600, read 512!",
                                "Cannot write chart.png",
                                "Cannot open KXconfig.dat",
                                "Recording stopped - cannot write run.csv",
                                "No serial port found",
                                "Cannot open port",
                                "Unknown system error",
                                "Unknown I/0 error",
                                "Invalid port number",
                                "Port is not open",
                                "RS-232 error!",
                                "No correction source file",
                                "KXpara.dat: only 12 of 16 numbers",
                                "KXpara.dat: element 3 is not a number",
                                "KXconfig.dat: pair 7 position 2000 out of 0..1023",
                                "KXpara.dat is not a regular file"})
        EXPECT_TRUE(orv::IsFailureStatus(failure)) << failure;
    for (const char* outcome :
         {"InitVars", "Init COM-Port ...", "Echo Check - Line Ok!", "Receive...", "Transmit...",
          "Transmit Ok!", "Line Ok!", "Teach new Reference-Value ...",
          "ok : T460 FLASH page7-write 255 words!", "ok : T460 FLASH block-write 16-words!",
          "KXpara.dat loaded", "KXpara.dat written", "chart.png saved", "Recording to run.csv",
          "COM1 reopened - /dev/ttyUSB0", "Read-back Ok!", ""})
        EXPECT_FALSE(orv::IsFailureStatus(outcome)) << outcome;
    EXPECT_FALSE(orv::IsFailureStatus(nullptr));
}
