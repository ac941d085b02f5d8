// Parses the MAVLink frames that our side-channel packetizer wrote (RTP
// headers already stripped) with an independent implementation, and checks
// checksums, headers and decoded fields against what the writer put in.
'use strict';
const fs = require('fs');
const { Readable } = require('stream');
const { createMavLinkStream, MavLinkProtocolV1, minimal, common } = require('node-mavlink');

const [framesPath, expectedPath] = process.argv.slice(2);
const expected = JSON.parse(fs.readFileSync(expectedPath, 'utf8'));
const registry = { ...minimal.REGISTRY, ...common.REGISTRY };

let crcErrors = 0;
const packets = [];
const stream = createMavLinkStream(Readable.from([fs.readFileSync(framesPath)]), {
  onCrcError: () => { crcErrors += 1; },
});
stream.on('data', (packet) => packets.push(packet));
stream.on('end', () => {
  const failures = [];
  const check = (what, got, want) => {
    if (JSON.stringify(got) !== JSON.stringify(want)) {
      failures.push(`${what}: got ${JSON.stringify(got)}, want ${JSON.stringify(want)}`);
    }
  };
  check('crc errors', crcErrors, 0);
  check('frame count', packets.length, expected.length);
  packets.forEach((packet, i) => {
    const want = expected[i];
    if (!want) return;
    const h = packet.header;
    // The parser leaves the header's magic at 0 for MAVLink 1; its protocol tells.
    check(`frame ${i} magic`, packet.protocol instanceof MavLinkProtocolV1 ? 0xfe : h.magic, want.magic);
    check(`frame ${i} msgid`, h.msgid, want.msgid);
    check(`frame ${i} seq`, h.seq, want.seq);
    check(`frame ${i} sysid`, h.sysid, want.sysid);
    check(`frame ${i} compid`, h.compid, want.compid);
    check(`frame ${i} payload length`, h.payloadLength, want.payload_length);
    check(`frame ${i} signed`, packet.signature !== null, want.signed);
    const data = packet.protocol.data(packet.payload, registry[h.msgid]);
    for (const [field, value] of Object.entries(want.fields)) {
      check(`frame ${i} ${field}`, data[field], value);
    }
  });
  for (const f of failures) console.log(`FAIL ${f}`);
  console.log(`mavlink interop: ${packets.length} frames parsed, ${failures.length} mismatches`);
  process.exit(failures.length === 0 ? 0 : 1);
});
