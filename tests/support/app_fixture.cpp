#include "support/app_fixture.h"

#include <cstdlib>
#include <fstream>

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "runtime/runtime.h"
#include "runtime/testing/rt_testing.h"

namespace orv_test {

namespace {

char arg0[] = "OrvanscopeV10";
char* argv0[] = {arg0, nullptr};

}  // namespace

int LoadMainPanel() {
    if (InitEngine(1, argv0) == 0)
        return -1;
    SetCallbackTable(orv::callbackTable, orv::callbackCount);
    orv::panelHandle = LoadPanel(0, orv::PANEL_FILE, orv::PANEL);
    orv::ReportToPanel();
    return orv::panelHandle;
}

kxsim::Frame Frame(std::uint16_t sync, std::uint16_t order, const kxsim::Block& words) {
    return kxsim::MakeFrame(sync, order, words);
}

kxsim::Options LineOptions(kxsim::Options options) {
    // ORV_TEST_LINE=trickle: every reply arrives a few bytes at a time, in the
    // bursts of a USB adapter, as on a real line.
    const char* line = std::getenv("ORV_TEST_LINE");
    if (line != nullptr && std::string(line) == "trickle") {
        options.trickleBytes = 4;
        options.usbLatencyMs = 2;
    }
    // ORV_TEST_SENSOR=foreign: a sensor that uses what the protocol leaves it:
    // another sync word in every reply, order word 0 in its flash replies, and
    // a frame of its own in answer to the teach order.
    if (ForeignSensor()) {
        options.replySync = kxsim::ReplySync::Fixed;
        options.replySyncWord = kForeignSync;
        options.flashReplyOrder = 0;
        options.teachReply = true;
    }
    options.inMemory = kMemoryRuntime;
    return options;
}

bool ForeignSensor() {
    const char* sensor = std::getenv("ORV_TEST_SENSOR");
    return sensor != nullptr && std::string(sensor) == "foreign";
}

void WriteRisingCorrSource(const std::string& path) {
    std::ofstream out(path);
    for (int group = 0; group < 3; ++group)
        for (int j = 0; j < 1024; ++j)
            out << (group == 0 ? 3 * j + 1 : group == 1 ? j : 0) << (j % 16 == 15 ? "\n" : " ");
}

std::uint16_t ReplySync() {
    return ForeignSensor() ? kForeignSync : 0x55;
}

void App::SetUp() {
    sensor = std::make_unique<kxsim::Sensor>(LineOptions(SensorOptions()));
    std::string error;
    ASSERT_TRUE(sensor->start(&error)) << error;
    const std::string device = Port1Device().empty() ? sensor->devicePath() : Port1Device();
    setenv("ORVANSCOPE_COM1", device.c_str(), 1);
    BeforeStartUp();
    startResult = orv::StartUp(1, argv0);
    ASSERT_EQ(startResult, 0);
}

void App::TearDown() {
    if (startResult == 0)
        orv::ShutDown();
    rt_test::Reset();
    if (sensor)
        sensor->stop();
}

int App::panel() const {
    return orv::panelHandle;
}

std::vector<std::string> App::Status() {
    return rt_test::TakeStatusHistory();
}

std::vector<kxsim::Frame> App::FramesSince(std::size_t skip) const {
    std::vector<kxsim::Frame> all = sensor->received();
    if (skip >= all.size())
        return {};
    return std::vector<kxsim::Frame>(all.begin() + static_cast<long>(skip), all.end());
}

}  // namespace orv_test
