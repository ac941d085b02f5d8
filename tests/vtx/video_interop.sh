#!/usr/bin/env bash
# Packetizes a short encoded stream with our fragment builder, sends it over
# UDP on loopback to a real RTP receiver, and checks that the frames it
# decodes are identical, byte for byte, to a direct decode of the stream.
#   video_interop.sh h264|h265 MTU SENDER
# H.264 is received by ffmpeg (SDP file). H.265 is received by GStreamer,
# because ffmpeg's H.265 depacketizer refuses a fragmentation unit with both
# start and end bits set, which our receivers accept and our sender emits for
# NAL units that fit in one packet.
set -euo pipefail
codec=$1
mtu=$2
sender=$3
work=$(mktemp -d /tmp/orvi-rtp-interop.XXXXXX)
receiver_pid=""
cleanup() {
    [ -n "$receiver_pid" ] && kill "$receiver_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

width=320
height=240
compared=24      # frames compared
sent=30          # frames sent: a real-time receiver may hold back the last one or two
frame_bytes=$((width * height * 3 / 2))
port=$((20000 + (RANDOM % 20000)))

case "$codec" in
    h264) encoder=(-c:v libx264 -bf 0 -g 10 -crf 16 -f h264) ;;
    h265) encoder=(-c:v libx265 -x265-params "bframes=0:keyint=10:log-level=error" -crf 16 -f hevc) ;;
    *) echo "unknown codec $codec" >&2; exit 2 ;;
esac
ffmpeg -v error -f lavfi -i "testsrc2=size=${width}x${height}:rate=30" -frames:v "$sent" \
    -pix_fmt yuv420p "${encoder[@]}" "$work/stream.bin"
ffmpeg -v error -i "$work/stream.bin" -f rawvideo -pix_fmt yuv420p "$work/reference.yuv"

if [ "$codec" = h264 ]; then
    cat > "$work/stream.sdp" <<SDP
v=0
o=- 0 0 IN IP4 127.0.0.1
s=orvi interop
c=IN IP4 127.0.0.1
t=0 0
m=video $port RTP/AVP 96
a=rtpmap:96 H264/90000
a=fmtp:96 packetization-mode=1
SDP
    ffmpeg -v error -protocol_whitelist file,udp,rtp -i "$work/stream.sdp" \
        -frames:v "$compared" -f rawvideo -pix_fmt yuv420p "$work/received.yuv" &
    receiver_pid=$!
else
    gst-launch-1.0 -q -e udpsrc port="$port" \
        caps="application/x-rtp,media=video,clock-rate=90000,encoding-name=H265,payload=96" \
        ! rtpjitterbuffer ! rtph265depay ! h265parse ! avdec_h265 \
        ! video/x-raw,format=I420 ! filesink location="$work/received.yuv" &
    receiver_pid=$!
fi
sleep 1  # let the receiver bind its port
"$sender" "$codec" "$mtu" "$port" "$work/stream.bin"
if [ "$codec" = h264 ]; then
    for _ in $(seq 100); do kill -0 "$receiver_pid" 2>/dev/null || break; sleep 0.1; done
else
    sleep 1
    kill -INT "$receiver_pid"
fi
wait "$receiver_pid" || true
receiver_pid=""

compare_bytes=$((compared * frame_bytes))
received=$(stat -c %s "$work/received.yuv" 2>/dev/null || echo 0)
if [ "$received" -lt "$compare_bytes" ]; then
    echo "FAIL: received $((received / frame_bytes)) frames, expected at least $compared" >&2
    exit 1
fi
if ! cmp -n "$compare_bytes" "$work/reference.yuv" "$work/received.yuv"; then
    echo "FAIL: decoded frames differ from the direct decode" >&2
    exit 1
fi
echo "PASS: $compared frames of $codec over RTP (mtu $mtu) decode identically"
