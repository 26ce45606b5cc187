// Device time stamps from the wire through the listener, the point record and
// every point format, written and read back: none may change.
#include "LoopbackSupport.h"
#include "ScratchFiles.h"

#include "Formats.h"
#include "ObservationPoint.h"
#include "Sentova/SentovaGrabber.h"

#include <gtest/gtest.h>

using namespace listener_test;

namespace {
class Keeper : public tavrel::SentovaLaserDataCallbackClass,
               public Inbox<std::vector<tavrel::tavrel_rbe_obs_t>> {
public:
    void LaserDataCallback(std::vector<tavrel::tavrel_rbe_obs_t> observations,
                           unsigned int) override {
        Put(std::move(observations));
    }
};
} // namespace

TEST(TimeThroughFiles, DeviceTimeStampsSurviveEveryFormat) {
    // An hour and more of device uptime, 33 microseconds apart: a float would
    // give the first two one value. Then the largest time stamp.
    const std::vector<std::uint32_t> stamps = {4000000001u, 4000000034u, 4000000067u, 4294967295u};
    std::vector<tavrel::LaserRecord> records;
    for (std::uint32_t t : stamps)
        records.push_back(Record(t, 12.345678));
    const unsigned short port = TestPort(64);
    tavrel::SentovaGrabber listener;
    Keeper keeper;
    ASSERT_TRUE(listener.StartListening("127.0.0.1", port, &keeper));
    LoopbackSender().Send(port, tavrel::encodeLaserPacket(records));
    const auto batches = keeper.WaitFor(1);
    listener.StopListening();
    ASSERT_EQ(batches.size(), 1u);

    std::deque<DataPoint> points;
    for (const auto& o : batches[0])
        points.push_back(formats::toDataPoint(o, LIDAR_LX30, false));
    ASSERT_EQ(points.size(), stamps.size());

    testing_support::ScratchDir dir("time_through_files");
    formats::WriteOptions options; // the viewer's default columns, the timestamp among them
    for (const formats::FormatInfo& info : formats::allFormats()) {
        SCOPED_TRACE(info.name);
        const std::string file = (dir / (std::string("scan") + info.extension)).string();
        const formats::Outcome written = formats::write(file, info.format, points, options);
        ASSERT_TRUE(written.ok) << written.error;
        const formats::ReadResult back = formats::read(file, info.format);
        ASSERT_TRUE(back.ok) << back.error;
        ASSERT_EQ(back.points.size(), stamps.size());
        for (std::size_t i = 0; i < stamps.size(); ++i)
            EXPECT_EQ(back.points[i].timestamp, stamps[i]) << "point " << i;
    }
}
