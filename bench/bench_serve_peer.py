#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# What a user would write instead of zub3ctl serve: a pyserial poll loop on a thread (the
# next poll one interval after the reply, as serve), each record handed to an asyncio loop
# that sends it to every WebSocket client (websockets) and keeps it for GET /api/state, and
# optionally published with paho-mqtt. The records carry serve's fields, so the benchmark
# reads both the same way.
#   bench_serve_peer.py DEVICE BIT-RATE INTERVAL-MS HTTP-PORT POLL-FRAME-HEX [MQTT-PORT TOPIC]
import asyncio, datetime, http, json, sys, threading, time
import serial
import websockets

from serial_line import standard_rate

REPLY = 22
NAMES = ((0x0200, "S1"), (0x0400, "S2"), (0x0800, "S3"), (0x1000, "S4"), (0x0001, "up"),
         (0x0002, "down"), (0x0004, "right"), (0x0008, "left"), (0x0010, "triangle"),
         (0x0020, "cross"), (0x0040, "circle"), (0x0100, "square"))

device, rate, interval = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]) / 1000
http_port, frame = int(sys.argv[4]), bytes.fromhex(sys.argv[5])
mqtt = None
if len(sys.argv) > 7:
    import paho.mqtt.client as paho
    mqtt, topic = paho.Client(), sys.argv[7]
    mqtt.connect("127.0.0.1", int(sys.argv[6]))
    mqtt.loop_start()

clients = set()
latest = None


def decode(reply):
    """D0..D5 and the checksum from the reply's nibble pairs; None for a reply that fails."""
    if len(reply) != REPLY or (reply[4] | 0x80) != frame[0] or reply[5:8] != frame[1:4]:
        return None
    v = [reply[8 + 2 * k] * 16 + reply[9 + 2 * k] for k in range(7)]
    return v if sum(v[:6]) & 0x7F == v[6] else None


def poll_loop(loop):
    standard_rate(device)
    port = serial.Serial(device, rate, parity=serial.PARITY_EVEN, timeout=0.5)
    first, seq, failed = None, 0, 0
    while True:
        sent = time.monotonic()
        first = first or sent
        port.write(frame)
        v = decode(port.read(REPLY))
        if v is None:
            failed += 1
        else:
            seq += 1
            buttons = v[0] * 256 + v[1]
            record = {"t_ms": round((sent - first) * 1000, 3),
                      "time": datetime.datetime.now().isoformat(timespec="milliseconds"),
                      "buttons": buttons, "held": [n for bit, n in NAMES if buttons & bit],
                      "pa1": v[2], "pa2": v[3], "pa3": v[4], "pa4": v[5],
                      "seq": seq, "failed": failed}
            text = json.dumps(record)
            loop.call_soon_threadsafe(publish, text)
            if mqtt:
                mqtt.publish(topic + "/state", text)
        time.sleep(interval)


def publish(text):
    global latest
    latest = text
    websockets.broadcast(clients, text)


async def client(ws, path):
    clients.add(ws)
    try:
        await ws.wait_closed()
    finally:
        clients.discard(ws)


async def state(path, headers):
    if path == "/api/state":
        if latest is None:
            return http.HTTPStatus.SERVICE_UNAVAILABLE, [], b""
        return http.HTTPStatus.OK, [("Content-Type", "application/json")], latest.encode()
    return None


async def main():
    loop = asyncio.get_running_loop()
    threading.Thread(target=poll_loop, args=(loop,), daemon=True).start()
    async with websockets.serve(client, "127.0.0.1", http_port, process_request=state,
                                ping_interval=None):
        await asyncio.Future()


asyncio.run(main())
