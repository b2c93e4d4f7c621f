// An osc.js TCP peer for the interoperability tests (SLIP framing, as osc.js speaks it).
//   node osc-js-tcp-peer.js send PORT     connects to 127.0.0.1:PORT, sends three packets, ends
//   node osc-js-tcp-peer.js listen COUNT  prints "port N", then one line per message received,
//                                          exits after COUNT messages or 5 seconds
"use strict";
const net = require("net");
const osc = require("osc");

const specials = Uint8Array.from([0xc0, 0xdb, 0xc0, 0xdc, 0xdd]);
const packets = [
    { address: "/js/int", args: [{ type: "i", value: 7 }, { type: "s", value: "seven" }] },
    { address: "/js/blob", args: [{ type: "b", value: specials }] },
    {
        timeTag: { raw: [5, 6] },
        packets: [{ address: "/js/in/bundle", args: [{ type: "i", value: 3 }] }],
    },
];

// "path types arg ..." per message; a bundle's messages follow "#bundle sec frac".
function describe(packet, lines) {
    if (packet.packets) {
        lines.push("#bundle " + packet.timeTag.raw[0] + " " + packet.timeTag.raw[1]);
        packet.packets.forEach((p) => describe(p, lines));
        return;
    }
    const args = packet.args || [];
    let line = packet.address + " " + args.map((a) => a.type).join("");
    for (const a of args) {
        if (a.type === "b") line += " " + Array.from(a.value).join(" ");
        else if (a.type === "i" || a.type === "s") line += " " + a.value;
    }
    lines.push(line);
}

const [mode, arg] = process.argv.slice(2);
setTimeout(() => process.exit(2), 5000).unref();

if (mode === "send") {
    const port = new osc.TCPSocketPort({ address: "127.0.0.1", port: Number(arg), metadata: true });
    port.on("ready", () => {
        packets.forEach((p) => port.send(p));
        port.close();
    });
    port.on("error", (e) => {
        console.error(String(e));
        process.exit(1);
    });
    port.open();
} else if (mode === "listen") {
    let left = Number(arg);
    const server = net.createServer((socket) => {
        const port = new osc.TCPSocketPort({ socket: socket, metadata: true });
        port.on("osc", (packet) => {
            const lines = [];
            describe(packet, lines);
            process.stdout.write(lines.join("\n") + "\n");
            left -= lines.filter((l) => !l.startsWith("#bundle")).length;
            if (left <= 0) process.exit(0);
        });
        port.on("error", (e) => console.error(String(e)));
    });
    server.listen(0, "127.0.0.1", () => process.stdout.write("port " + server.address().port + "\n"));
} else {
    console.error("usage: osc-js-tcp-peer.js send PORT | listen COUNT");
    process.exit(64);
}
