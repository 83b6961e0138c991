// The correction table builder with its files: the output file, the page
// buffers, and the sources it must refuse. (The build's rules are tested on
// the pure builder.)
#include <gtest/gtest.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <array>
#include <cstdint>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "com232/corrtable.h"
#include "runtime/runtime.h"

namespace {

using Group = std::array<int32_t, orv::CORR_ENTRIES>;

class CorrTable : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    Group values{}, positions{}, third{};

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        // "KXlinear.dat" is written relative to the working directory.
        ASSERT_EQ(0, chdir(dir.path().toLocal8Bit().constData()));
        // Every unused pair gives the last position the value 0: a gap that
        // takes its left neighbour, so it changes nothing else.
        values.fill(0);
        positions.fill(1023);
        third.fill(7);
    }

    // Pairs (position, value) in element order from element 0 on.
    void Pairs(const std::vector<std::pair<int32_t, int32_t>>& pairs) {
        for (std::size_t j = 0; j < pairs.size(); ++j) {
            positions[j] = pairs[j].first;
            values[j] = pairs[j].second;
        }
    }

    std::string Source() {
        std::array<int32_t, orv::CORR_ELEMENTS> all{};
        std::copy(values.begin(), values.end(), all.begin());
        std::copy(positions.begin(), positions.end(), all.begin() + 1024);
        std::copy(third.begin(), third.end(), all.begin() + 2048);
        const std::string path = (dir.path() + "/KXconfig.dat").toStdString();
        EXPECT_EQ(0, ArrayToFile(path.c_str(), all.data(), TYPE_INT, 3072, 3, 0, 0, 0, 1, FILE_ASCII, 0));
        return path;
    }

    static Group Table() {
        Group t{};
        std::copy(orv::vcorr.begin() + 2048, orv::vcorr.begin() + 3072, t.begin());
        return t;
    }

    Group Build() {
        EXPECT_EQ(0, orv::ReadCorrData(Source().c_str()));
        return Table();
    }
};

TEST_F(CorrTable, IdentityPositionsGiveTheValuesAndFillThePagesInOrder) {
    for (int j = 0; j < 1024; ++j) {
        positions[j] = j;
        values[j] = 3 * j + 1;
    }
    orv::vcorr[3072] = 4242;  // beyond the three groups: never touched
    orv::vcorr[4095] = -4242;
    const Group t = Build();
    const std::array<int32_t, 256>* pages[] = {&orv::flashp4, &orv::flashp5, &orv::flashp6, &orv::flashp7};
    for (int i = 0; i < 1024; ++i) {
        ASSERT_EQ(3 * i + 1, t[i]) << i;
        ASSERT_EQ(i, orv::vcorr[i]) << i;
        ASSERT_EQ(1023 - i, orv::vcorr[1024 + i]) << i;  // source positions back to front
        ASSERT_EQ(3 * i + 1, (*pages[i / 256])[i % 256]) << i;
    }
    EXPECT_EQ(4242, orv::vcorr[3072]);
    EXPECT_EQ(-4242, orv::vcorr[4095]);

    // The output file holds the three groups of vcorr, one row each, width 6.
    std::array<int32_t, 3072> out{};
    ASSERT_EQ(0, FileToArray(orv::CORR_OUTPUT_FILE, out.data(), TYPE_INT, 3072, 3, 0, 0, FILE_ASCII));
    EXPECT_TRUE(std::equal(out.begin(), out.end(), orv::vcorr.begin()));
    std::ifstream in(orv::CORR_OUTPUT_FILE);
    std::string row0, row1, row2, extra;
    std::getline(in, row0);
    std::getline(in, row1);
    std::getline(in, row2);
    EXPECT_EQ("     0\t     1\t     2", row0.substr(0, 20));
    EXPECT_EQ("  1023\t  1022", row1.substr(0, 13));
    EXPECT_EQ("     1\t     4\t     7", row2.substr(0, 20));
    EXPECT_FALSE(std::getline(in, extra));
}

TEST_F(CorrTable, ValuesAtBothEndsOfTheFlashWordAreTaken) {
    Pairs({{0, 0}, {1, 65535}});
    const Group t = Build();
    EXPECT_EQ(0, t[0]);
    EXPECT_EQ(65535, t[1]);
    EXPECT_EQ(65535, orv::flashp7[255]);
}

TEST_F(CorrTable, RefusedSourcesChangeNothing) {
    // A previous good build whose results must survive every refusal.
    Pairs({{0, 5}});
    Build();
    const auto vcorrBefore = orv::vcorr;
    const auto page7Before = orv::flashp7;
    std::ofstream(orv::CORR_OUTPUT_FILE) << "previous\n";

    struct Case {
        std::string text;
        const char* status;
        int code;
    };
    std::string shortSource, badToken, posHigh, posNegative, valueHigh, valueNegative;
    for (int k = 0; k < 3071; ++k)
        shortSource += "1 ";
    for (int k = 0; k < 3072; ++k)
        badToken += (k == 17 ? "x " : "1 ");
    for (int k = 0; k < 3072; ++k)
        posHigh += (k == 1024 + 5 ? "2047 " : "1 ");
    for (int k = 0; k < 3072; ++k)
        posNegative += (k == 2047 ? "-1 " : "1 ");
    // A value must fit the 16-bit flash word it is programmed into.
    for (int k = 0; k < 3072; ++k)
        valueHigh += (k == 2 ? "70000 " : k == 3 ? "65536 " : "1 ");
    for (int k = 0; k < 3072; ++k)
        valueNegative += (k == 1023 ? "-32769 " : "1 ");
    const Case cases[] = {
        {shortSource, "KXconfig.dat: only 3071 of 3072 numbers", FILE_ERR_SHORT},
        {badToken, "KXconfig.dat: element 17 not an integer", FILE_ERR_FORMAT},
        {posHigh, "KXconfig.dat: pair 5 position 2047 out of 0..1023", orv::CORR_ERR_POSITION},
        {posNegative, "KXconfig.dat: pair 1023 position -1 out of 0..1023", orv::CORR_ERR_POSITION},
        {valueHigh, "KXconfig.dat: pair 2 value 70000 out of -32768..65535", orv::CORR_ERR_VALUE},
        {valueNegative, "KXconfig.dat: pair 1023 value -32769 out of -32768..65535", orv::CORR_ERR_VALUE},
    };
    const std::string path = (dir.path() + "/KXconfig.dat").toStdString();
    for (const Case& c : cases) {
        std::ofstream(path) << c.text;
        EXPECT_EQ(c.code, orv::ReadCorrData(path.c_str())) << c.status;
        EXPECT_STREQ(c.status, orv::szStatus.data());
    }
    unlink(path.c_str());
    EXPECT_EQ(FILE_ERR_OPEN, orv::ReadCorrData(path.c_str()));
    EXPECT_STREQ("Cannot open KXconfig.dat", orv::szStatus.data());

    EXPECT_EQ(vcorrBefore, orv::vcorr);
    EXPECT_EQ(page7Before, orv::flashp7);
    std::ifstream in(orv::CORR_OUTPUT_FILE);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ("previous", line);
}

TEST_F(CorrTable, LongFileNameMessageStaysInTheStatusBuffer) {
    const std::string name(200, 'k');
    const std::string path = (dir.path() + "/").toStdString() + name;
    std::ofstream(path) << "1 2 3";
    EXPECT_EQ(FILE_ERR_SHORT, orv::ReadCorrData(path.c_str()));
    EXPECT_EQ(orv::STATUS_LEN - 1, static_cast<int>(std::string(orv::szStatus.data()).size()));
}

}  // namespace
