// The flash programming sequence against the simulated sensor: the frames on
// the line, the outcome of every page, the word counter, and the waits. Runs
// on the memory runtime, where the waits cost no wall time; the times are
// taken on the runtime's clock (Timer) and the sensor's.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "com232/corrtable.h"
#include "com232/flash.h"
#include "com232/frame.h"
#include "com232/params.h"
#include "com232/rs232.h"
#include "runtime/runtime.h"
#include "runtime/testing/rt_testing.h"
#include "support/app_fixture.h"

namespace {

const char* const kPageOk[] = {
    "ok : T460 FLASH page4-write 255 words!", "ok : T460 FLASH page5-write 255 words!",
    "ok : T460 FLASH page6-write 255 words!", "ok : T460 FLASH page7-write 255 words!"};
const char* const kPageError[] = {
    "error : T460 FLASH page4-write <255 words!", "error : T460 FLASH page5-write <255 words!",
    "error : T460 FLASH page6-write <255 words!", "error : T460 FLASH page7-write <255 words!"};
const char* const kBlockWritten = "ok : T460 FLASH block-write 16-words!";
const char* const kEraseValid = "ok : T460 FLASH erase-adress valid!";

std::array<int32_t, 256>* const kPages[] = {&orv::flashp4, &orv::flashp5, &orv::flashp6, &orv::flashp7};
const int32_t kPageAddress[] = {orv::PAGE4, orv::PAGE5, orv::PAGE6, orv::PAGE7};

class Flash : public orv_test::App {
  protected:
    std::size_t before = 0;

    kxsim::Options SensorOptions() override {
        kxsim::Options o;
        o.fast = true;  // replies at once: the waits of the sequence dominate
        return o;
    }

    void SetUp() override {
        App::SetUp();
        if (HasFatalFailure())
            return;
        // A table with negative entries and entries above 16 bits.
        for (int i = 0; i < 1024; ++i)
            (*kPages[i / 256])[i % 256] = 70 * i - 5000;
        ASSERT_TRUE(sensor->waitForReplies(1, 2000));  // the line check of start-up
        rt_test::Pump(50);
        before = sensor->framesReceived();
        Status();
    }

    std::vector<kxsim::Frame> Frames() const { return FramesSince(before); }
    static std::vector<uint8_t> Bytes(const std::array<char, orv::BUF_LEN>& buf) {
        return std::vector<uint8_t>(buf.begin(), buf.begin() + 36);
    }
    static kxsim::Page Expected(int page) {
        kxsim::Page p{};
        for (int i = 0; i < 256; ++i)
            p[i] = static_cast<uint16_t>((*kPages[page - 4])[i]);
        return p;
    }
};

TEST_F(Flash, BlockFramesCarryAddressAndLow16BitsOfEachEntry) {
    ASSERT_EQ(1, orv::SendInfoBlockToFlash(orv::PAGE4 + 3 * 16, 0));
    std::vector<uint8_t> address = {0x00, 0x55, 0x00, 0x14, 0x00, 0x00, 0x14, 0x30};
    address.resize(36, 0);
    EXPECT_EQ(address, Bytes(orv::szWriteBuf));
    EXPECT_STREQ("ok:  SendInfoBlockToFlash!", orv::szStatus.data());  // the reply word was 170

    std::array<int32_t, 16> entries{};
    for (int k = 0; k < 16; ++k)
        entries[k] = k + 1;
    ASSERT_EQ(1, orv::WriteBlockDataToFlash(entries.data()));
    std::vector<uint8_t> data = {0x00, 0x55, 0x00, 0x15};
    for (int k = 1; k <= 16; ++k) {
        data.push_back(0);
        data.push_back(static_cast<uint8_t>(k));
    }
    EXPECT_EQ(data, Bytes(orv::szWriteBuf));
    EXPECT_EQ(std::vector<std::string>{kBlockWritten}, Status());

    // Another block of the same page: -1 goes out as FF FF, 0x12345 as 23 45.
    entries[0] = -1;
    entries[15] = 0x12345;
    ASSERT_EQ(1, orv::SendInfoBlockToFlash(orv::PAGE4 + 4 * 16, 0));
    ASSERT_EQ(1, orv::WriteBlockDataToFlash(entries.data()));
    EXPECT_EQ(0xFF, static_cast<uint8_t>(orv::szWriteBuf[4]));
    EXPECT_EQ(0xFF, static_cast<uint8_t>(orv::szWriteBuf[5]));
    EXPECT_EQ(0x23, static_cast<uint8_t>(orv::szWriteBuf[34]));
    EXPECT_EQ(0x45, static_cast<uint8_t>(orv::szWriteBuf[35]));

    // What the sensor received is what was built, and it stored the blocks.
    const auto frames = Frames();
    ASSERT_EQ(4u, frames.size());
    EXPECT_TRUE(std::equal(address.begin(), address.end(), frames[0].begin()));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), frames[1].begin()));
    const kxsim::Page page4 = sensor->flashPage(4);
    EXPECT_EQ(1, page4[48]);
    EXPECT_EQ(16, page4[63]);
    EXPECT_EQ(0xFFFF, page4[64]);
    EXPECT_EQ(0x2345, page4[79]);
}

TEST_F(Flash, GoodRunProgramsAllFourPages) {
    const double start = Timer();
    orv::SendCorrDataToFlash();
    const double elapsed = Timer() - start;
    const std::vector<double> all = sensor->arrivalsMs();
    const std::vector<double> arrivals(all.begin() + static_cast<long>(std::min(before, all.size())),
                                       all.end());

    const auto frames = Frames();
    ASSERT_EQ(128u, frames.size());
    for (int page = 0; page < 4; ++page) {
        for (int block = 0; block < 16; ++block) {
            const kxsim::Frame& a = frames[static_cast<std::size_t>(page * 32 + block * 2)];
            const kxsim::Frame& d = frames[static_cast<std::size_t>(page * 32 + block * 2 + 1)];
            ASSERT_EQ(20, kxsim::FrameWord(a, -1));
            ASSERT_EQ(kPageAddress[page] + 16 * block, kxsim::FrameWord(a, 1));
            ASSERT_EQ(21, kxsim::FrameWord(d, -1));
            ASSERT_EQ(static_cast<uint16_t>((*kPages[page])[block * 16]), kxsim::FrameWord(d, 0));
        }
        EXPECT_EQ(Expected(page + 4), sensor->flashPage(page + 4)) << "page " << page + 4;
    }

    std::vector<std::string> expected;
    for (int page = 0; page < 4; ++page) {
        expected.push_back(kEraseValid);  // the sensor's answer to a page's first block
        for (int block = 1; block < 16; ++block)
            expected.push_back(kBlockWritten);
        expected.push_back(kPageOk[page]);
    }
    EXPECT_EQ(expected, Status());
    EXPECT_EQ(0, rt_test::Int(panel(), orv::NumValue));
    EXPECT_EQ(static_cast<int32_t>(static_cast<uint16_t>(orv::flashp7[255])), orv::pp[15] & 0xFFFF);

    // The waits: two 50 ms reply waits per block, 150 ms after each page's
    // first block, 50 ms between pages. Only the lower bound is exact.
    EXPECT_GE(elapsed, 64 * 2 * 0.05 + 4 * 0.15 + 3 * 0.05);
    ASSERT_EQ(128u, arrivals.size());
    for (int page = 0; page < 4; ++page) {
        std::vector<double> gaps;  // data frame of block b to address frame of block b + 1
        for (int block = 0; block < 15; ++block) {
            const std::size_t d = static_cast<std::size_t>(page * 32 + block * 2 + 1);
            gaps.push_back((arrivals[d + 1] - arrivals[d]) / 1000.0);
        }
        EXPECT_GE(gaps[0], 0.18) << "page " << page + 4;
        std::vector<double> rest(gaps.begin() + 1, gaps.end());
        std::nth_element(rest.begin(), rest.begin() + 7, rest.end());
        EXPECT_LT(rest[7], 0.15) << "page " << page + 4 << ": a long wait after later blocks";
    }

    // A page whose block 0 is refused stops there without the 150 ms wait.
    sensor->setFlashFault({true, 4, 0, true, 0});
    const double again = Timer();
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(16, orv::WritePageDataToFlash(orv::PAGE4, orv::flashp4.data()));
    const double refused = Timer() - again;
    EXPECT_EQ(4u, Status().size());
    EXPECT_GE(refused, 4 * 2 * 0.05);
    EXPECT_LT(refused, 4 * 2 * 0.05 + 4 * 0.15 / 2) << "waited after a failed block 0";
}

TEST_F(Flash, CountTellsHowFarAPageCame) {
    EXPECT_EQ(256, orv::WritePageDataToFlash(orv::PAGE4, orv::flashp4.data()));
    EXPECT_EQ(256, rt_test::Int(panel(), orv::NumValue));

    // Address reply 171 in block 5: the page ends there with 96 words.
    sensor->setFlashFault({true, 5, 5, false, 171});
    EXPECT_EQ(96, orv::WritePageDataToFlash(orv::PAGE5, orv::flashp5.data()));
    EXPECT_EQ(96, rt_test::Int(panel(), orv::NumValue));
    EXPECT_STREQ("error : unknown T460 echo at order-20!", orv::szStatus.data());  // 171 is no ack
    EXPECT_EQ(11u, Frames().size() - 32);  // 5 blocks and the refused address
    const kxsim::Page page5 = sensor->flashPage(5);
    EXPECT_EQ(static_cast<uint16_t>(orv::flashp5[79]), page5[79]);
    EXPECT_EQ(0, page5[80]);

    // The next page is still programmed, and a data reply of 1 continues
    // like 2 does.
    sensor->setFlashFault({true, 6, 7, true, 1});
    Status();
    EXPECT_EQ(256, orv::WritePageDataToFlash(orv::PAGE6, orv::flashp6.data()));
    EXPECT_EQ(Expected(6), sensor->flashPage(6));
    const auto shown = Status();
    ASSERT_EQ(16u, shown.size());
    EXPECT_EQ(kEraseValid, shown[7]);
    EXPECT_EQ(kBlockWritten, shown[8]);

    // A stop in the last block is not a complete page.
    sensor->setFlashFault({true, 7, 15, true, 3});
    EXPECT_EQ(240, orv::WritePageDataToFlash(orv::PAGE7, orv::flashp7.data()));
    EXPECT_STREQ("error : T460 unknown-echo at order=21!", orv::szStatus.data());
}

TEST_F(Flash, StopInLastBlockIsReportedAsPageError) {
    sensor->setFlashFault({true, 6, 15, false, 0});
    orv::SendCorrDataToFlash();
    const auto shown = Status();
    const std::vector<std::string> pageMessages = [&] {
        std::vector<std::string> m;
        for (const auto& s : shown)
            if (s.find("page") != std::string::npos)
                m.push_back(s);
        return m;
    }();
    EXPECT_EQ((std::vector<std::string>{kPageOk[0], kPageOk[1], kPageError[2], kPageOk[3],
                                        "error : T460 FLASH page6 not written!"}),
              pageMessages);
}

TEST_F(Flash, WithoutSensorEveryPageStopsInBlockZero) {
    sensor->setSilent(true);
    orv::SendCorrDataToFlash();
    const auto frames = Frames();
    ASSERT_EQ(4u, frames.size());
    for (int page = 0; page < 4; ++page) {
        EXPECT_EQ(20, kxsim::FrameWord(frames[page], -1));
        EXPECT_EQ(kPageAddress[page], kxsim::FrameWord(frames[page], 1));
    }
    std::vector<std::string> expected(kPageError, kPageError + 4);
    expected.push_back("error : T460 FLASH page4 page5 page6 page7 not written!");
    EXPECT_EQ(expected, Status());
    EXPECT_EQ(0, rt_test::Int(panel(), orv::NumValue));

    EXPECT_EQ(16, orv::WritePageDataToFlash(orv::PAGE4, orv::flashp4.data()));
    EXPECT_STREQ("Timeout: SendInfoBlockToFlash < 36 Bytes", orv::szStatus.data());
    EXPECT_EQ(16, rt_test::Int(panel(), orv::NumValue));
}

TEST_F(Flash, StaleInputDoesNotShiftTheReplies) {
    // Part of a frame from earlier traffic: too short for the receive
    // notification, so it stays in the input queue.
    std::vector<uint8_t> stale(20, 0);
    stale[5] = 170;
    ASSERT_TRUE(sensor->inject(stale));
    ASSERT_TRUE(rt_test::WaitUntil([] { return GetInQLen(orv::com) == 20; }, 2000));
    orv::SendCorrDataToFlash();
    const auto shown = Status();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(kPageOk[3], shown.back());
    EXPECT_EQ(1, std::count(shown.begin(), shown.end(), std::string(kPageOk[0])));
    for (int page = 4; page <= 7; ++page)
        EXPECT_EQ(Expected(page), sensor->flashPage(page)) << "page " << page;
}

// The closing summary with the table not saved names the failed pages in
// short, and every summary fits the status buffer whole.
TEST(FlashSummary, NamesWhatFailedAndAlwaysFits) {
    EXPECT_EQ(0, orv::ComposeFlashSummary(0, 0));
    orv::ComposeFlashSummary(0b1011, 1);
    EXPECT_STREQ("error : T460 FLASH only page6 written, KXlinear.dat not saved!", orv::szStatus.data());
    for (int bits = 1; bits < 32; ++bits) {
        orv::ComposeFlashSummary(bits & 0xF, bits >> 4);
        EXPECT_EQ('!', orv::szStatus[std::strlen(orv::szStatus.data()) - 1]) << bits;  // not cut short
    }
}

}  // namespace
