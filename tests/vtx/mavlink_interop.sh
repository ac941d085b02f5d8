#!/usr/bin/env bash
# Our MAVLink side-channel frames, parsed by an independent implementation.
#   mavlink_interop.sh FRAMES_TOOL
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/orvi-mavlink-interop.XXXXXX)
trap 'rm -rf "$work"' EXIT
if [ ! -d "$here/mavlink_interop/node_modules/node-mavlink" ]; then
    echo "node-mavlink is not installed: run ./dev test (it runs npm ci in $here/mavlink_interop)" >&2
    exit 1
fi
"$1" "$work/frames.bin" "$work/expected.json"
node "$here/mavlink_interop/check_frames.js" "$work/frames.bin" "$work/expected.json"
