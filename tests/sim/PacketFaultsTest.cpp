// The laser stream's faults as a pure transformation: what leaves, in which
// order and shape, and what is counted.
#include "PacketFaults.h"

#include "Sentova/LaserPacket.h"

#include <gtest/gtest.h>

#include <string>

using namespace sentova::sim;

namespace {

const Endpoint kHost{0x7F000001, 4366};
const Endpoint kStrangerHost{0x7F000002, 4366};

// Datagram i: the header and three records whose timestamp is i.
std::string datagram(std::uint32_t i) {
    std::vector<tavrel::LaserRecord> records(3);
    for (auto& r : records)
        r.timestamp = i;
    return tavrel::encodeLaserPacket(records);
}

std::uint32_t indexOf(const std::string& bytes) {
    return tavrel::decodeData(bytes.data() + 6).timestamp;
}

std::vector<AddressedDatagram> run(PacketFaults& faults, std::uint32_t n, double spacing = 0.002) {
    std::vector<AddressedDatagram> out;
    for (std::uint32_t i = 0; i < n; ++i) {
        faults.offer(kHost, datagram(i), i * spacing, out);
        faults.release(i * spacing, out);
    }
    faults.release(1e9, out);
    return out;
}

} // namespace

TEST(PacketFaults, NoFaultsPassEverythingThroughInOrder) {
    PacketFaults faults(PacketFaultOptions{}, 1);
    const auto out = run(faults, 100);
    ASSERT_EQ(out.size(), 100u);
    for (std::uint32_t i = 0; i < 100; ++i) {
        EXPECT_EQ(out[i].bytes, datagram(i));
        EXPECT_EQ(out[i].to, kHost);
    }
    EXPECT_EQ(faults.nextRelease(), std::numeric_limits<double>::infinity());
}

TEST(PacketFaults, EachKindHitsItsShareAndIsCounted) {
    PacketFaultOptions o;
    o.drop = 0.1;
    o.truncate = 0.1;
    o.badHeader = 0.1;
    o.duplicate = 0.1;
    o.reorder = 0.1;
    PacketFaults faults(o, 42);
    constexpr std::uint32_t kN = 5000;
    const auto out = run(faults, kN);
    const PacketFaultCounters& c = faults.counters();
    for (std::uint64_t count : {c.dropped, c.truncated, c.badHeader, c.duplicated, c.reordered}) {
        EXPECT_GT(count, kN * 0.08);
        EXPECT_LT(count, kN * 0.12);
    }
    EXPECT_EQ(out.size(), kN - c.dropped + c.duplicated);

    std::size_t truncated = 0, spoilt = 0, outOfOrder = 0;
    std::uint32_t highest = 0;
    for (const auto& d : out) {
        const auto layout = tavrel::examineLaserPacket(
            reinterpret_cast<const unsigned char*>(d.bytes.data()), d.bytes.size());
        if (layout.discarded) {
            EXPECT_EQ(d.bytes.substr(0, 6), "EBRBEX");
            ++spoilt;
            continue;
        }
        if ((d.bytes.size() - 6) % tavrel::kLaserRecordSize != 0) {
            // Cut inside a record: the whole records before the cut remain.
            EXPECT_LT(layout.records, 3u);
            ++truncated;
        }
        if (layout.records == 0)
            continue;
        const std::uint32_t i = indexOf(d.bytes);
        if (i < highest)
            ++outOfOrder;
        highest = std::max(highest, i);
    }
    EXPECT_GT(truncated, 0u);
    EXPECT_LE(truncated, c.truncated * 2);
    EXPECT_GE(spoilt, c.badHeader);
    EXPECT_GT(outOfOrder, c.reordered / 2);

    // The same seed gives the same stream; another seed another one.
    PacketFaults again(o, 42), other(o, 43);
    const auto repeat = run(again, kN);
    ASSERT_EQ(repeat.size(), out.size());
    for (std::size_t i = 0; i < out.size(); ++i)
        ASSERT_EQ(repeat[i].bytes, out[i].bytes) << i;
    EXPECT_NE(run(other, kN).size() + other.counters().truncated, out.size() + c.truncated);
}

TEST(PacketFaults, ReorderedDatagramFollowsTheNextOneOrLeavesAfterAWhile) {
    PacketFaultOptions o;
    o.reorder = 1.0;
    PacketFaults faults(o, 1);
    std::vector<AddressedDatagram> out;
    faults.offer(kHost, datagram(0), 0.0, out);
    EXPECT_TRUE(out.empty());
    EXPECT_LT(faults.nextRelease(), 0.1);
    faults.offer(kHost, datagram(1), 0.001, out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(indexOf(out[0].bytes), 1u);
    EXPECT_EQ(indexOf(out[1].bytes), 0u);
    // The last one of a stream is not held for ever.
    faults.offer(kHost, datagram(2), 0.002, out);
    EXPECT_EQ(out.size(), 2u);
    faults.release(faults.nextRelease(), out);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(indexOf(out[2].bytes), 2u);
}

TEST(PacketFaults, BurstsHoldTheStreamAndLetItGoAtOnceFilledUp) {
    PacketFaultOptions o;
    o.burst = 1000;
    o.burstIntervalMs = 500;
    PacketFaults faults(o, 1);
    std::vector<AddressedDatagram> out;
    for (std::uint32_t i = 0; i < 100; ++i) {
        faults.offer(i % 2 ? kStrangerHost : kHost, datagram(i), i * 0.004, out);
        faults.release(i * 0.004, out);
    }
    EXPECT_TRUE(out.empty());
    EXPECT_DOUBLE_EQ(faults.nextRelease(), 0.5);
    faults.release(0.5, out);
    // Both hosts: their own 50 datagrams first, in order, then copies of the last.
    ASSERT_EQ(out.size(), 2000u);
    std::size_t toHost = 0;
    for (std::size_t i = 0; i < out.size(); ++i)
        if (out[i].to == kHost) {
            const std::uint32_t expected =
                toHost < 50 ? static_cast<std::uint32_t>(2 * toHost) : 98;
            EXPECT_EQ(indexOf(out[i].bytes), expected);
            ++toHost;
        }
    EXPECT_EQ(toHost, 1000u);
    // The copies are large: the last datagram's records over and over.
    const std::string& copy = out.back().bytes;
    EXPECT_EQ(copy.size(), 6 + kBurstCopyRecords * tavrel::kLaserRecordSize);
    EXPECT_EQ(copy.compare(6, 3 * 22, datagram(99), 6, 3 * 22), 0);
    EXPECT_EQ(copy.compare(6 + 3 * 22, 3 * 22, datagram(99), 6, 3 * 22), 0);
    EXPECT_EQ(faults.counters().bursts, 2u);
    EXPECT_EQ(faults.counters().burstDatagrams, 2000u);
    EXPECT_EQ(faults.counters().burstCopies, 1900u);
    // Nothing held, nothing due: the next burst counts from the next datagram.
    EXPECT_EQ(faults.nextRelease(), std::numeric_limits<double>::infinity());
    EXPECT_EQ(burstCopy("EBRBEX123"), "EBRBEX123"); // nothing to repeat
    faults.offer(kHost, datagram(7), 2.0, out);
    EXPECT_DOUBLE_EQ(faults.nextRelease(), 2.5);
}
