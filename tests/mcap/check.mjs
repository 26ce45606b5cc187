// Reads one of our MCAP files with the format's own reader and compares it with what the tool
// read from its input. Usage: node check.mjs FILE.mcap EXPECTED.json
// or, for a file recorded live, whose content is not known beforehand: node check.mjs FILE.mcap
// --recorded (at least one point cloud, the stream start in the log, the counts consistent),
// or for a capture: node check.mjs FILE.mcap --captured MESSAGES (that many point clouds, or with
// "several" more than one, each a scan frame: the raster starts over between them).
// EXPECTED: {"frames": [{"time": ns, "points": [[x, y, z, intensity, range, azimuth, elevation,
// reflectance, pulse_shape_deviation, time], ...]}], "logs": [{"time": ns, "begins": text}],
// "minimumChunks": n}
import { McapIndexedReader, McapStreamReader } from "@mcap/core";
import { loadDecompressHandlers } from "@mcap/support";
import { open, readFile } from "node:fs/promises";
import assert from "node:assert/strict";

const [file, expectedPath] = process.argv.slice(2);
const captured = expectedPath === "--captured";
const capturedMessages = process.argv[4];
const recorded = expectedPath === "--recorded" || captured;
const expected = recorded ? null : JSON.parse(await readFile(expectedPath, "utf8"));
const decompressHandlers = await loadDecompressHandlers();

// The stream reader checks every record, the chunks' and the data section's CRCs.
{
  const stream = new McapStreamReader({ decompressHandlers, validateCrcs: true });
  stream.append(await readFile(file));
  const seen = {};
  for (let record; (record = stream.nextRecord()); ) {
    seen[record.type] = (seen[record.type] ?? 0) + 1;
  }
  assert.ok(stream.done(), "the stream reader did not reach the end magic");
  assert.equal(seen.Header, 1);
  assert.equal(seen.Footer, 1);
  assert.equal(seen.DataEnd, 1);
  if (!recorded) {
    assert.equal(seen.Message, expected.frames.length + expected.logs.length);
  }
}

const handle = await open(file, "r");
const readable = {
  size: async () => BigInt((await handle.stat()).size),
  read: async (offset, size) => {
    const buffer = new Uint8Array(Number(size));
    const { bytesRead } = await handle.read(buffer, 0, buffer.length, Number(offset));
    assert.equal(bytesRead, buffer.length);
    return buffer;
  },
};
const reader = await McapIndexedReader.Initialize({ readable, decompressHandlers });

const channels = [...reader.channelsById.values()];
const points = channels.find((c) => c.topic === "/sentova/points");
const log = channels.find((c) => c.topic === "/sentova/log");
assert.ok(points && log, "channels: " + channels.map((c) => c.topic).join(", "));
for (const [channel, name] of [
  [points, "foxglove.PointCloud"],
  [log, "foxglove.Log"],
]) {
  assert.equal(channel.messageEncoding, "json");
  const schema = reader.schemasById.get(channel.schemaId);
  assert.equal(schema.name, name);
  assert.equal(schema.encoding, "jsonschema");
  assert.equal(JSON.parse(new TextDecoder().decode(schema.data)).title, name);
}

const stats = reader.statistics;
assert.ok(reader.chunkIndexes.length >= (expected?.minimumChunks ?? 1), "too few chunks");

const kTypes = { 5: ["getUint32", 4], 7: ["getFloat32", 4], 8: ["getFloat64", 8] };
const kNames = ["x", "y", "z", "intensity", "range", "azimuth", "elevation", "reflectance",
  "pulse_shape_deviation", "time"];

function decodeCloud(message) {
  const cloud = JSON.parse(new TextDecoder().decode(message.data));
  assert.equal(cloud.frame_id, "sentova");
  assert.deepEqual(cloud.pose.orientation, { x: 0, y: 0, z: 0, w: 1 });
  const time = BigInt(cloud.timestamp.sec) * 1000000000n + BigInt(cloud.timestamp.nsec);
  assert.equal(time, message.logTime);
  assert.deepEqual(cloud.fields.map((f) => f.name), kNames);
  const bytes = Buffer.from(cloud.data, "base64");
  assert.equal(bytes.length % cloud.point_stride, 0);
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.length);
  const out = [];
  for (let at = 0; at < bytes.length; at += cloud.point_stride) {
    out.push(cloud.fields.map((f) => {
      const [getter, size] = kTypes[f.type];
      assert.ok(f.offset + size <= cloud.point_stride);
      return view[getter](at + f.offset, true);
    }));
  }
  return out;
}

// Every message, in log time order, through the index.
const clouds = [];
for await (const m of reader.readMessages({ topics: ["/sentova/points"] })) {
  clouds.push(m);
}
const logs = [];
for await (const m of reader.readMessages({ topics: ["/sentova/log"] })) {
  logs.push(m);
}
assert.equal(stats.channelMessageCounts.get(points.id), BigInt(clouds.length));
assert.equal(stats.channelMessageCounts.get(log.id), BigInt(logs.length));
assert.equal(stats.messageCount, BigInt(clouds.length + logs.length));
const text = (m) => JSON.parse(new TextDecoder().decode(m.data)).message;
if (captured) {
  if (capturedMessages === "several") {
    assert.ok(clouds.length > 1, `${clouds.length} point clouds`);
  } else {
    assert.equal(clouds.length, Number(capturedMessages), "one message per frame");
  }
  const frames = clouds.map(decodeCloud);
  const kElevation = 6;
  const kTime = 9;
  frames.forEach((points, i) => {
    assert.ok(points.length > 0, `frame ${i} is empty`);
    if (i === 0) return;
    // A batch that ends one frame and begins the next stamps both.
    assert.ok(clouds[i].logTime >= clouds[i - 1].logTime, `frame ${i}: log time`);
    const last = frames[i - 1].at(-1);
    // The stream goes on from one message to the next, and the raster starts over.
    assert.ok(((points[0][kTime] - last[kTime]) >>> 0) < 1000000, `frame ${i}: device time`);
    assert.ok(points[0][kElevation] < last[kElevation], `frame ${i}: no restart of the raster`);
  });
  console.log(`${file}: ${clouds.length} point clouds, one per frame`);
  process.exit(0);
}
if (recorded) {
  assert.ok(clouds.length > 0, "no point cloud");
  clouds.forEach((m) => assert.ok(decodeCloud(m).length > 0));
  assert.ok(logs.some((m) => text(m).startsWith("command SVRRBE")), "no stream start in the log");
  console.log(`${file}: ${clouds.length} point clouds, ${logs.length} log messages`);
  process.exit(0);
}

assert.equal(clouds.length, expected.frames.length, "one message per frame");
clouds.forEach((m, i) => {
  const want = expected.frames[i];
  assert.equal(m.logTime, BigInt(want.time), `frame ${i}: log time`);
  assert.equal(m.sequence, i);
  const got = decodeCloud(m);
  assert.equal(got.length, want.points.length, `frame ${i}: points`);
  got.forEach((p, k) => {
    const w = want.points[k];
    // The coordinates are float64; the device's values float32, exactly as we hold them.
    const same = p.every((v, j) => (j < 3 || j === 9 ? v === w[j] : v === Math.fround(w[j])));
    assert.ok(same, `frame ${i} point ${k}: ${p} != ${w}`);
  });
});

assert.equal(logs.length, expected.logs.length);
logs.forEach((m, i) => {
  const entry = JSON.parse(new TextDecoder().decode(m.data));
  assert.equal(m.logTime, BigInt(expected.logs[i].time));
  assert.ok(entry.message.startsWith(expected.logs[i].begins), `log ${i}: ${entry.message}`);
  assert.equal(entry.level, entry.message.startsWith("reply EE") ? 3 : 2);
});

// Seeking: a time range reads only the messages inside it.
if (expected.frames.length >= 3) {
  const k = Math.floor(expected.frames.length / 2);
  const t = BigInt(expected.frames[k].time);
  const one = [];
  for await (const m of reader.readMessages({ topics: ["/sentova/points"], startTime: t, endTime: t })) {
    one.push(m);
  }
  assert.equal(one.length, 1);
  assert.equal(one[0].sequence, k);
  const rest = [];
  for await (const m of reader.readMessages({ topics: ["/sentova/points"], startTime: t + 1n })) {
    rest.push(m.sequence);
  }
  assert.deepEqual(rest, clouds.slice(k + 1).map((m) => m.sequence));
  const backwards = [];
  for await (const m of reader.readMessages({ topics: ["/sentova/points"], reverse: true })) {
    backwards.push(m.sequence);
  }
  assert.deepEqual(backwards, clouds.map((m) => m.sequence).reverse());
}

await handle.close();
console.log(`${file}: ${clouds.length} point clouds, ${logs.length} log messages, ` +
  `${reader.chunkIndexes.length} chunks: as expected`);
