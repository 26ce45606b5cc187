// `sentova serve` seen by Foxglove's own WebSocket client library over `ws`: the advertisement,
// subscriptions, point clouds equal to the frames of the recording the simulator replays, two
// clients at once, a client that stops reading while the others keep up, bad requests answered
// with a status, a client refused without the subprotocol and one gone in the middle of a message.
// Usage: node serve.mjs URL REFERENCE.mcap STATS_FILE
// REFERENCE: the replayed recording converted to MCAP (one message per frame); STATS_FILE: the
// server's standard error with --stats.
// Or, for a server without a scan: node serve.mjs URL --batches (messages of the points of an
// interval, the stream going on from one to the next without a loss); or node serve.mjs URL --log
// (prints "subscribed" once subscribed to the log, then waits for the stream's stop in it).
import foxglove from "@foxglove/ws-protocol";
import { McapIndexedReader } from "@mcap/core";
import { loadDecompressHandlers } from "@mcap/support";
import WebSocket from "ws";
import assert from "node:assert/strict";
import { open, readFile } from "node:fs/promises";
import net from "node:net";

const { FoxgloveClient } = foxglove;
const [url, referencePath, statsPath] = process.argv.slice(2);
const kSubprotocol = FoxgloveClient.SUPPORTED_SUBPROTOCOL;

async function until(what, predicate, ms = 20000) {
  const end = Date.now() + ms;
  for (;;) {
    const value = await predicate();
    if (value) return value;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 10));
  }
}

function foxgloveClient() {
  const ws = new WebSocket(url, [kSubprotocol]);
  const client = new FoxgloveClient({ ws });
  const c = { ws, client, channels: [], statuses: [], clouds: [], open: false };
  client.on("open", () => (c.open = true));
  client.on("serverInfo", (info) => (c.serverInfo = info));
  client.on("advertise", (channels) => c.channels.push(...channels));
  client.on("status", (s) => c.statuses.push(s));
  client.on("message", ({ subscriptionId, timestamp, data }) => {
    const text = new TextDecoder().decode(data);
    c.clouds.push({ subscriptionId, timestamp, cloud: JSON.parse(text) });
  });
  return c;
}

function deviceTimes(cloud) {
  const bytes = Buffer.from(cloud.data, "base64");
  const times = [];
  for (let at = 0; at < bytes.length; at += cloud.point_stride) times.push(bytes.readUInt32LE(at + 48));
  return times;
}

if (referencePath === "--batches") {
  const c = foxgloveClient();
  await until("the advertisement", () => c.channels.length === 2);
  c.client.subscribe(c.channels.find((ch) => ch.topic === "/sentova/points").id);
  await until("ten messages", () => c.clouds.length >= 10);
  const times = c.clouds.slice(0, 10).map((m) => deviceTimes(m.cloud));
  for (let k = 1; k < times.length; ++k) {
    const within = times[k][1] - times[k][0];
    const across = (times[k][0] - times[k - 1].at(-1)) >>> 0;
    assert.ok(within > 0 && across > 0 && across <= 4 * within,
      `message ${k}: device time ${across} µs from the message before, ${within} µs between points`);
  }
  c.client.close();
  console.log(`batches: ${times.map((t) => t.length).join(", ")} points`);
  process.exit(0);
}

if (referencePath === "--log") {
  const c = foxgloveClient();
  await until("the advertisement", () => c.channels.length === 2);
  const logId = c.channels.find((ch) => ch.topic === "/sentova/log").id;
  const logSub = c.client.subscribe(logId);
  // Requests are taken in order: a cloud shows the log subscription in place.
  c.client.subscribe(c.channels.find((ch) => ch.topic === "/sentova/points").id);
  await until("a cloud", () => c.clouds.length > 0);
  console.log("subscribed");
  const stop = await until(
    "the stream's stop in the log",
    () => c.clouds.find((m) => m.subscriptionId === logSub && m.cloud.message.startsWith("command SVSRBE")),
  );
  assert.equal(stop.cloud.level, 2);
  assert.equal(BigInt(stop.cloud.timestamp.sec) * 1000000000n + BigInt(stop.cloud.timestamp.nsec), stop.timestamp);
  // The reply follows its command on the channel, possibly in a later frame.
  await until("a reply in the log",
    () => c.clouds.some((m) => m.subscriptionId === logSub && m.cloud.message.startsWith("reply ")));
  console.log(`log: ${stop.cloud.message}`);
  process.exit(0);
}

// The frames of the recording, by their first point's device time.
const kTimeOffset = 48;
function firstTime(data) {
  return Buffer.from(data, "base64").readUInt32LE(kTimeOffset);
}
const reference = new Map();
{
  const handle = await open(referencePath, "r");
  const reader = await McapIndexedReader.Initialize({
    readable: {
      size: async () => BigInt((await handle.stat()).size),
      read: async (offset, size) => {
        const buffer = new Uint8Array(Number(size));
        await handle.read(buffer, 0, buffer.length, Number(offset));
        return buffer;
      },
    },
    decompressHandlers: await loadDecompressHandlers(),
  });
  for await (const m of reader.readMessages({ topics: ["/sentova/points"] })) {
    const cloud = JSON.parse(new TextDecoder().decode(m.data));
    reference.set(firstTime(cloud.data), cloud.data);
  }
  await handle.close();
}
assert.ok(reference.size >= 3, `the reference holds ${reference.size} frames`);

// The server's last --stats line: each client's counts by its address and port.
async function serverCounts() {
  const lines = (await readFile(statsPath, "utf8")).split("\n").filter((l) => l.includes("clients connected"));
  const counts = new Map();
  for (const m of (lines.at(-1) ?? "").matchAll(/#\d+ (\S+) sent (\d+) dropped (\d+)( \(gone\))?/g)) {
    counts.set(m[1], { sent: Number(m[2]), dropped: Number(m[3]), gone: m[4] !== undefined });
  }
  return counts;
}
const peerOf = (socket) => `${socket.localAddress}:${socket.localPort}`;

// Every cloud is one whole frame of the recording, stamped as its binary message is.
function checkClouds(c, subscriptionId) {
  for (const { subscriptionId: id, timestamp, cloud } of c.clouds) {
    assert.equal(id, subscriptionId);
    assert.equal(BigInt(cloud.timestamp.sec) * 1000000000n + BigInt(cloud.timestamp.nsec), timestamp);
    assert.equal(cloud.frame_id, "sentova");
    assert.equal(cloud.point_stride, 52);
    const want = reference.get(firstTime(cloud.data));
    assert.ok(want !== undefined, `a cloud starting at device time ${firstTime(cloud.data)} is no frame`);
    assert.ok(want === cloud.data, "a cloud's points differ from its frame's");
  }
}

// Advertisement and subscription.
const a = foxgloveClient();
await until("the first client's advertisement", () => a.serverInfo && a.channels.length === 2);
assert.equal(a.serverInfo.name, "sentova");
const byTopic = Object.fromEntries(a.channels.map((ch) => [ch.topic, ch]));
for (const [topic, schemaName] of [
  ["/sentova/points", "foxglove.PointCloud"],
  ["/sentova/log", "foxglove.Log"],
]) {
  const ch = byTopic[topic];
  assert.ok(ch, `no channel ${topic}`);
  assert.equal(ch.schemaName, schemaName);
  assert.equal(ch.encoding, "json");
  assert.equal(ch.schemaEncoding, "jsonschema");
  assert.equal(JSON.parse(ch.schema).title, schemaName);
}
const pointsId = byTopic["/sentova/points"].id;
const aSub = a.client.subscribe(pointsId);
a.client.subscribe(byTopic["/sentova/log"].id);

// A second client at the same time gets the same frames.
const b = foxgloveClient();
await until("the second client's advertisement", () => b.channels.length === 2);
const bSub = b.client.subscribe(pointsId);
await until("three clouds on both clients", () => a.clouds.length >= 3 && b.clouds.length >= 3);
const shared = b.clouds.map((m) => m.cloud.data);
assert.ok(a.clouds.some((m) => m.cloud.data === shared[0]), "the clients were sent different frames");
checkClouds(a, aSub);
checkClouds(b, bSub);
assert.equal(a.statuses.length, 0);

// Unsubscribed, a client gets nothing more, while the other goes on.
b.client.unsubscribe(bSub);
const bHad = b.clouds.length;
const aAt = a.clouds.length;
await until("two more clouds on the first client", () => a.clouds.length >= aAt + 3);
assert.ok(b.clouds.length <= bHad + 1, "clouds after the unsubscription"); // one may be on its way
const bAfter = b.clouds.length;
await until("one more cloud on the first client", () => a.clouds.length >= aAt + 4);
assert.equal(b.clouds.length, bAfter, "clouds after the unsubscription");
const bSub2 = b.client.subscribe(pointsId);

// A client that stops reading loses messages; the others lose none and keep their pace.
const slow = new WebSocket(url, [kSubprotocol]);
await until("the slow client's connection", () => slow.readyState === WebSocket.OPEN);
slow.send(JSON.stringify({ op: "subscribe", subscriptions: [{ id: 3, channelId: pointsId }] }));
let slowClouds = 0;
slow.on("message", (data, binary) => (slowClouds += binary ? 1 : 0));
await until("the slow client's first cloud", () => slowClouds > 0);
slow.pause();
const slowPeer = peerOf(slow._socket);
const aBefore = a.clouds.length;
const stalled = await until(
  "the slow client's drops",
  async () => {
    const c = (await serverCounts()).get(slowPeer);
    return c && c.dropped > 0 ? c : null;
  },
  60000,
);
assert.ok(a.clouds.length >= aBefore + 3, "the first client slowed down with the slow one");
const counts = await serverCounts();
assert.equal(counts.get(peerOf(a.ws._socket)).dropped, 0);
assert.equal(counts.get(peerOf(b.ws._socket)).dropped, 0);
slow.resume();
const slowResumed = slowClouds;
await until("clouds for the slow client once it reads again", () => slowClouds > slowResumed + 3);
checkClouds(a, aSub);
b.clouds.splice(0, bAfter);
checkClouds(b, bSub2);
console.log(`slow client: ${stalled.dropped} messages dropped while it did not read`);

// Bad requests: a status each, and the client stays and can still subscribe.
const bad = foxgloveClient();
await until("the third client's advertisement", () => bad.channels.length === 2);
for (const text of [
  "{",
  JSON.stringify({ op: "fly" }),
  JSON.stringify({ op: "subscribe", subscriptions: [{ id: 1, channelId: 99 }] }),
  JSON.stringify({ op: "unsubscribe", subscriptionIds: [12] }),
]) {
  bad.ws.send(text);
}
bad.ws.send(Buffer.from([1, 0, 0, 0, 0]));
await until("five statuses", () => bad.statuses.length >= 5);
assert.ok(bad.statuses.every((s) => s.level === 2), JSON.stringify(bad.statuses));
assert.match(bad.statuses[0].message, /JSON/);
assert.match(bad.statuses[2].message, /channel 99/);
const badSub = bad.client.subscribe(pointsId);
await until("a cloud after the bad requests", () => bad.clouds.length > 0);
checkClouds(bad, badSub);

// Without the subprotocol the upgrade is refused.
const refusal = await new Promise((resolve) => {
  const plain = new WebSocket(url);
  plain.on("unexpected-response", (_request, response) => resolve(response.statusCode));
  plain.on("open", () => resolve("open"));
  plain.on("error", (e) => resolve(e.message));
});
assert.equal(refusal, 400);

// A client gone in the middle of a message is cleaned up; the others go on.
const raw = net.connect(new URL(url).port, new URL(url).hostname);
let reply = "";
raw.on("data", (d) => (reply += d.toString("latin1")));
await until("the raw client's connection", () => raw.readyState === "open");
raw.write(
  `GET / HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n` +
    `Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n` +
    `Sec-WebSocket-Protocol: ${kSubprotocol}\r\n\r\n`,
);
await until("the raw client's upgrade", () => reply.includes("\r\n\r\n"));
assert.match(reply, /^HTTP\/1.1 101/);
const rawPeer = peerOf(raw);
// A masked text frame that announces 200 bytes and brings 3.
raw.write(Buffer.from([0x81, 0xfe, 0x00, 0xc8, 1, 2, 3, 4, 0x7b, 0x22, 0x6f]));
raw.destroy();
await until("the raw client's end", async () => (await serverCounts()).get(rawPeer)?.gone, 30000);
const aLast = a.clouds.length;
await until("clouds after the raw client went", () => a.clouds.length >= aLast + 2);
checkClouds(a, aSub);

for (const c of [a, b, bad]) c.client.close();
slow.terminate();
console.log(`served: ${a.clouds.length} clouds on the first client, all frames of the recording`);
process.exit(0);
