#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target from real inputs of the system.

Run by hand from the repository root; the seeds are committed. Each target
reads a few parameter bytes first (see fuzz_input.h: integer() takes two
bytes, byte() one), then the rest of the input as its text.
"""
import os
import re
import struct
import subprocess

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORPUS = os.path.join(ROOT, "fuzz", "corpus")


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def integer(value, lo):
    return struct.pack(">H", value - lo)


def builtin_tables():
    source = open(os.path.join(ROOT, "caltable", "default_power_calibration.cpp")).read()
    return re.findall(r'R"csv\((.*?)\)csv"', source, re.S)


def vtx_record(record_id, frequency, mcs, power_idx, magic=0x4F525649):
    return struct.pack("<Ii5f3iBidd4s4i", magic, record_id, 12.5, 11.0, 3.2, 16.6, 1.1, 8000000,
                       2400, 9, 0, 19, 41.5, 22.3, b"\0\0\0\0", power_idx, frequency, mcs, 50)


def main():
    good = vtx_record(7, 5805, 3, 20)
    write("fuzz_pipe_records", "two_records", good + vtx_record(8, 2412, 1, 5))
    write("fuzz_pipe_records", "partial", good[:60])
    write("fuzz_pipe_records", "bad_magic", good + vtx_record(9, 5805, 3, 20, magic=1))
    write("fuzz_pipe_records", "doodle", struct.pack("<II24s", 0, 0x4F525649, b"\1" * 24))

    for token in ("2_4", "5_1", "5_8"):
        table = open(os.path.join(ROOT, "data", f"{token}_mv_to_dbm.csv"), "rb").read()
        write("fuzz_conversion_tables", f"{token}_mcs3", integer(3, -2) + integer(700, -100) +
              b"\x40" + table)
    write("fuzz_conversion_tables", "blank_and_empty_fields",
          integer(0, -2) + integer(440, -100) + b"\0" + b"mV,a\n400,10\n\n450,,12.5\n500,12.3\n")

    tables = builtin_tables()
    params = integer(0, 0) + integer(63, 0) + bytes([1, 0, 100, 0, 50] * 20)
    write("fuzz_calibration_merge", "builtin_2_4", params + tables[0].encode() + b"\n")
    write("fuzz_calibration_merge", "append_mcs3",
          integer(3, 0) + integer(40, 0) + bytes([2, 0, 200, 0, 9] * 40) +
          b"Power_Level,MCS0_mV,MCS0_mW\n1,355.96,16.22\n2,-1,-1\n5,NA,NA\n")
    write("fuzz_calibration_merge", "update_temp_stop",
          integer(3, 0) + integer(45, 0) + bytes([3, 0, 10, 0, 9] * 45) +
          b"Power_Level,MCS3_mV,MCS3_mW\n1,1.00,2.00\n\n62,NA,NA\n")

    for i, table in enumerate(tables):
        write("fuzz_power_map", f"builtin_{i}", integer(3, -2) + integer(200, -10) +
              integer(5200, 2300) + b"\1\0" + table.encode())
    write("fuzz_power_map", "bad_columns", integer(1, -2) + integer(25, -10) +
          integer(5745, 2300) + b"\0\0" +
          b"Power_Level,MCS_mW,MCSx_mW,MCS1_mW\nabc,1,2,3\n30,20,20,20\n35,30,-1,TEMP_ERROR_76_3\n")

    write("fuzz_config_loaders", "vtx_profiles", b"""/**
 * orvi-vtx Configuration File
 */
{
  "frequency": 5805, "bandwidth": 20, // inline comment
  "udp_receiver_configs": [{"ip": "10.0.0.2", "port": 5600}, {"ip": "", "port": 1}],
  "profiles": [
    {"name": "hires", "source": "hires_misp_encoded", "mtu": 1400, "mcs": 3, "power": 200,
     "ai_detection_enable": true, "ai_detection_qty": 0,
     "enable_adaptive_link": true,
     "adaptive_link_levels": [{"mcs": 9, "bitrate_mbps": -2, "fps": 61, "bandwidth": 80},
                              {"mcs": 2, "bitrate_mbps": 4.5, "num_p_frames": -3}]},
    {"mtu": -5, "udp_camera_bitrate_bps": -1}
  ],
  "cameras": [{"name": "hires", "misp_venc_mode": "h264", "large_venc_mode": "H264"}]
}
""")
    write("fuzz_config_loaders", "vrx", b'{"udp_configs": [{"ip": "127.0.0.1", "port": 65535}]}')

    stream = subprocess.run(
        ["ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=64x48:rate=30",
         "-frames:v", "3", "-c:v", "libx264", "-f", "h264", "-"],
        check=True, capture_output=True).stdout
    write("fuzz_rtp_fragments", "h264_mtu500", integer(500, 1) + b"\0" + integer(0, 0) + b"\5" +
          stream)
    write("fuzz_rtp_fragments", "h265_mtu8", integer(8, 1) + b"\1" + integer(0, 0) + b"\x13" +
          b"\0\0\0\1\x40\1\x0c\1\xff\xff\0\0\0\1\x26\1" + bytes(range(1, 200)))

    write("fuzz_side_channel", "mixed", integer(300, -4) + integer(65535, 0) + integer(3, 0) +
          integer(2, 0) + bytes(range(1, 255)) * 3 + integer(200, -300) + integer(8, -300) +
          integer(1, 0) + b"\xb6\x04abcd" + integer(16, 0) + b"\x11" + integer(2, 0) +
          b"\xfd\x10" + bytes(300))
    write("fuzz_side_channel", "tiny_budget", integer(10, -4) + bytes(40))


if __name__ == "__main__":
    main()
