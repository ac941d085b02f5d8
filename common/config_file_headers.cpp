// Fixed header texts of the two configuration files. They describe every
// key for whoever edits the file by hand; the readers ignore them.
#include <orvi/config_file_headers.h>

const char* const VTX_CONFIG_FILE_HEADER = R"HDR(/**
 * orvi-vtx Configuration File
 *
 * ============================================================================
 * WIRELESS TRANSMISSION SETTINGS (must match VRX)
 * ============================================================================
 * frequency (int): Center frequency in MHz (e.g. 5805)
 * bandwidth (int): Channel bandwidth in MHz
 *            20: 20 MHz channel
 *            40: 40 MHz channel
 * card (string): Wi-Fi interface name (e.g. "wlan0")
 * enable_pcap (bool): Enable RF PCAP injection
 * enable_pit (bool): Enable PIT mode (low transmit power)
 *
 * ============================================================================
 * FORWARD ERROR CORRECTION (must match VRX)
 * ============================================================================
 * enable_fec (bool): Enable forward error correction
 * fec_percent (int): FEC overhead percentage [-1, 1000]
 *            -1: Computed automatically, with a minimum of 75%
 *            0: No FEC, but FEC headers are still in the payload
 *            >0: That percentage of overhead (e.g. 20, 75, 100)
 * fec_block_size (int): Number of fragments per FEC block
 *
 * ============================================================================
 * ADVANCED WIRELESS SETTINGS
 * ============================================================================
 * enable_stbc (int): Space-time block coding, number of spatial streams
 * regulatory_mode (string): Transmit power limits
 *            "off": No regulatory limits
 *            "fcc": FCC limits
 *
 * ============================================================================
 * VIDEO PROFILE CONFIGURATION
 * ============================================================================
 * active_profile_idx (int): Index of the active profile, 0-based (default 0)
 * rc_toggle (int): RC channel that switches profiles
 * rc_switch_profiles (array of int): Ordered profile indices picked by the
 *            rc_toggle channel; empty or absent disables RC switching.
 *            The channel range 1000-2000 is cut into one equal bin per
 *            entry, highest values first; up to 5 entries recommended.
 *            If the camera is changed out of band (OSD menu or control
 *            pipe) to another hi-res profile while a hi-res slot is
 *            selected, that choice sticks to the slot until the slot's own
 *            profile is selected out of band again; other slots are
 *            unaffected.
 * osd_rc_toggle (int): RC channel that turns the OSD on and off
 *            -1: Disabled
 *            1-18: RC channel (LOW = OSD on, HIGH = OSD off)
 * osd_joystick_toggle (int): Joystick button bit for the OSD
 *            -1: Disabled
 *            0-32: Button bit (LOW = OSD on, HIGH = OSD off)
 * led_joystick_button_off (int): Button bit meaning LEDs off when pressed
 *            alone (default 3)
 *            -1: Disabled
 *            0-31: Button bit
 * led_joystick_button_ir (int): Button bit meaning IR LEDs on when pressed
 *            alone (default 4); neither button pressed = overt LEDs on,
 *            both pressed = no change
 *            -1: Disabled
 *            0-31: Button bit
 * profiles (array of objects): The video profiles, in order
 *
 * Profile Configuration:
 *   name (string): Profile name (default "Profile_" and its index)
 *   source (string): Pipe of the encoded video
 *            (default "hires_default_misp_encoded")
 *   mcs (int): MCS index of the profile [0, 7] (default 0)
 *   mtu (int): Image payload bytes per packet (default 1341);
 *            at most 1341 for H265 and 1342 for H264
 *   power (int): Transmit power in mW (default 25)
 *   invert_toggle (int): RC channel for colour invert, -1 none (default -1)
 *   joystick_toggle (int): Joystick button bit, -1 none (default -1)
 *   udp_camera_bitrate_bps (int): Camera bit rate in UDP mode, bit/s
 *            [0, 10000000] (default 1000000)
 *   ai_detection_enable (bool): Object detection on for this profile
 *            (default false)
 *   ai_detection_source (string): Pipe of detection data
 *            (default "tflite_data")
 *   ai_detection_qty (int): Most detected objects passed on, at least 1
 *            (default 2)
 *   ai_detection_threshold (float): Detection confidence threshold, above
 *            0.01 (default 0.75)
 *
 * ============================================================================
 * TELEMETRY & DATA RATES
 * ============================================================================
 * info_rate_hz (int): Rate of VTX info packets to the VRX, in Hz
 * mavlink_telem_rate_hz (int): Rate of MAVLink telemetry forwarded to the
 *            VRX, in Hz
 * lq_quiet_timeout_ms (int): After a link-stats request, non-video
 *            transmissions pause until the VRX answers or this many ms
 *            pass (0 = off); MAVLink forwarding pauses only while armed
 * team_race_en (string): Team race mode
 *            "off": Team race disabled
 *            "on": Team race enabled
 *            "auto": Detected from the ELRS receiver settings
 * team_race_tx_timeout_ms (int): ms to keep transmitting after an ELRS
 *            failsafe
 * rc_deadman_en (bool): RC dead man's switch: all TX stops when the flight
 *            controller reports no healthy RC link (MAVLink SYS_STATUS
 *            RC_RECEIVER health bit, or external FC rc_failsafe) for longer
 *            than rc_deadman_tx_timeout_ms; TX resumes as soon as RC
 *            recovers
 * rc_deadman_tx_timeout_ms (int): ms of TX after RC loss before TX stops
 *
 * ============================================================================
 * UDP MODE (for LTE/Doodle/Silvus/etc - alternative to WiFi injection)
 * ============================================================================
 * udp (bool): Use the UDP transport instead of packet injection
 * udp_interface_ip (string): Local IP address of the UDP interface
 * udp_interface_tx_port (int): Local transmit port, -1 to disable
 * udp_interface_rx_port (int): Local receive port
 * udp_receiver_configs (array of objects): Remote receivers
 *            {"ip": string, "port": int}, port [0, 65534]
 *
 * ============================================================================
 * RF/IP VIDEO FALLBACK (requires both RF and IP/UDP transports configured)
 * ============================================================================
 * enable_ip_fallback (bool): Move video TX to IP when the RF link degrades
 *            and back when it recovers
 * snr_low_threshold (int): RF to IP when RF SNR (dB) stays below this
 * snr_high_threshold (int): IP to RF when RF SNR (dB) stays above this
 * link_switch_dwell_ms (int): How long the SNR condition must hold before
 *            a switch, in ms
 * ip_liveness_timeout_ms (int): IP counts as available only if a UDP
 *            packet arrived within this window, in ms
 * pcap_liveness_timeout_ms (int): RF counts as alive only if a pcap packet
 *            arrived within this window, in ms; silent RF with IP
 *            available switches video to IP at once, whatever the last SNR
 *
 * ============================================================================
 * HARDWARE & SYSTEM SETTINGS
 * ============================================================================
 * i2c_port (int): I2C bus of the power and temperature sensors
 *            -1: Disabled
 *            0 or more: Enabled, with detection
 * perf_mode (bool): CPU performance governor while armed
 *
 * ============================================================================
 * ADAPTIVE LINK
 * ============================================================================
 * Per-profile keys, inside each object of "profiles":
 * enable_adaptive_link (bool): Adaptive link on for this profile
 *            (default false)
 * adaptive_link_timeout_ms (int): ms without link statistics before the
 *            controller drops to the most robust level (default 3000)
 * adaptive_link_up_hold_count (int): Consecutive SNR readings above snr_up
 *            needed to step up (default 3)
 * adaptive_link_loss_down_pct (int): Smoothed VRX packet loss (%) at or
 *            above which the controller steps down even with good SNR;
 *            0 = off (default 10)
 * adaptive_link_loss_down_hold_ms (int): ms the smoothed loss must stay at
 *            or above that before stepping down (default 500)
 * adaptive_link_loss_up_max_pct (int): Stepping up is allowed only while
 *            smoothed loss is at or below this; -1 = no gate (default 5)
 * adaptive_link_levels (array of objects): Levels, best (fastest) first,
 *            most robust last; read only when enable_adaptive_link is true
 *            mcs (int): MCS index of the level [0, 7] (default 0)
 *            bitrate_mbps (float): Camera bit rate in Mbit/s (default 1.0)
 *            fps (int): Camera frame rate [0, 60] (default 30)
 *            num_p_frames (int): P-frames of the encoded stream (GOP size),
 *                -1 when the level gives none (default -1)
 *            snr_down (int): SNR (dB) below which the controller steps to
 *                the next worse level; -1 = never steps down from here
 *            snr_up (int): SNR (dB) above which it steps to the next better
 *                level; -1 = never steps up from here; meant to be above
 *                snr_down of the level before it
 *            bandwidth (int): Channel bandwidth in MHz for the level, 20 or
 *                40; -1 = the top-level bandwidth (default -1)
 *
 * ============================================================================
 * DEBUG & TESTING
 * ============================================================================
 * disable_transmissions (bool): No wireless transmissions (test, debug)
 * debug_log (string): Debug logging
 *            "off": No logging enabled
 *            "on": Logging from start-up
 *            "arm": Logging from arming
 * adaptive_link_log (string): CSV log of adaptive-link inputs, state and
 *            decisions in "/data/kzr/vtx/logs/"
 *            "off": No logging enabled
 *            "on": Logging from start-up
 *            "arm": Logging from arming
 *
 */
)HDR";

const char* const VRX_CONFIG_FILE_HEADER = R"HDR(/**
 * orvi-vrx Configuration File
 *
 * ============================================================================
 * WIRELESS RECEPTION SETTINGS
 * ============================================================================
 * frequency: Center frequency in MHz, as in the VTX file
 * bandwidth: Channel bandwidth in MHz, 20 or 40, as in the VTX file
 * card: Wi-Fi interface name (e.g. "wlan0", "ath0")
 * enable_pcap: Receive over RF
 * enable_fec: Enable forward error correction
 * enable_stbc: Space-time block coding, number of spatial streams
 * enable_lq_resp: Answer link-quality requests from a VTX
 *
 * ============================================================================
 * VIDEO DECODER SETTINGS
 * ============================================================================
 * width: Initial video width hint for the decoder
 * height: Initial video height hint for the decoder
 * encoding: Video encoding
 *            "h264": H.264
 *            "h265": H.265
 *
 * ============================================================================
 * VIDEO DISPLAY SETTINGS
 * ============================================================================
 * stretch_to_screen: Stretch the video to the screen
 * splash_on_lost_link: Show the splash screen on link loss
 * blackout_mode: Black screen instead of splash, acquiring-link or last
 *            frame when video is not live
 * osd_on_link_loss: OSD shown during link loss
 *            0: No OSD
 *            1: Full OSD
 *            2: Minimal OSD (loss %, RSSI, FPS, channel, CPU temperature)
 * link_loss_indicator: Show an indicator while the OSD is off during link
 *            loss
 * stream_timeout_ms: ms before the stream counts as lost
 *
 * ============================================================================
 * DISPLAY MODE
 * ============================================================================
 * v_sync: Page-flip at vertical blank (default); false renders to the
 *            front buffer (lower latency, possible tearing)
 * display_width: Requested output width, 0 = preferred mode
 * display_height: Requested output height, 0 = preferred mode; no matching
 *            mode falls back to the preferred mode
 * display_refresh_hz: Requested refresh rate, 0 = highest available at
 *            that size
 *
 * ============================================================================
 * Sharpening Filter (Unsharp Mask)
 * ============================================================================
 * sharpen_amount: Unsharp-mask strength on luminance
 *            0.0: Off
 *            0.5: Subtle
 *            1.0-2.0: Moderate
 *            3.0+: Aggressive
 * sharpen_threshold: Minimum luminance difference to sharpen
 *            0.0: Sharpen all
 *            0.01-0.03: Ignore noise
 *            0.1+: Strong edges only
 *
 * ============================================================================
 * ON-SCREEN DISPLAY (OSD) SETTINGS
 * ============================================================================
 * debug_osd: Show debug information on the OSD
 * ai_detection_enable: Show the detection overlay from the VTX
 * ai_detection_show_labels: Show labels on the detection overlay
 *
 * ============================================================================
 * DECODER PERFORMANCE SETTINGS
 * ============================================================================
 * overheat_mitigation: Decoder throttling input
 *            -1: Off
 *            0: Latest decode latency
 *            >0: Number of decode latency samples averaged
 * decode_latency_threshold: Throttling threshold in ms
 * display_damaged_frames: Show frames the decoder tagged as corrupt
 * drop_all_bad_pframes: Drop P-frames until the next I-frame after
 *            corruption
 *
 * ============================================================================
 * RECORDING SETTINGS
 * ============================================================================
 * record_video: Record from start-up
 * allow_record_local: Record to local disk when no USB device is present
 *
 * ============================================================================
 * UDP MODE (for LTE/Doodle/Silvus/etc - alternative to WiFi injection)
 * ============================================================================
 * udp: Use the UDP transport instead of RF, as in the VTX file
 * udp_interface_ip: Local IP address of the UDP interface
 * udp_interface_tx_port: Local transmit port, -1 = OS assigns
 * udp_interface_rx_port: Local receive port
 * udp_receiver_configs: Endpoints the VRX transmits to
 *            {"ip": string, "port": int}, port [0, 65534]
 *
 * ============================================================================
 * Retransmission over UDP settings
 * ============================================================================
 * en_retransmit: Retransmit the received stream over UDP
 * en_retransmit_with_local_decode: Keep local processing after
 *            retransmitting
 * retransmit_tx_ip: Source address of the retransmission
 * retransmit_tx_port: Source port of the retransmission
 * retransmit_rx_ip: Destination address of the retransmission
 * retransmit_rx_port: Destination port of the retransmission
 *
 * ============================================================================
 * TELEMETRY & NETWORK SETTINGS
 * ============================================================================
 * gcs_ip: Ground-station address for MAVLink
 * telem_tx_ip: Local telemetry source address
 * mavlink_gcs_port: MAVLink port to and from the ground station
 * mavlink_upstream_ip: Optional upstream VRX for ground-station MAVLink
 *            toward the VTX
 * mavlink_upstream_port: Port of the upstream VRX
 * allow_mavlink_forward_while_armed: Forward MAVLink while armed
 * mpeg_ts_rebroadcast_port: Port of the MPEG-TS rebroadcast to gcs_ip
 * en_mpeg_ts_rebroadcast: Rebroadcast the video as MPEG-TS to gcs_ip
 *
 * ============================================================================
 * SYSTEM SETTINGS
 * ============================================================================
 * perf_mode: CPU performance governor while armed
 * enable_button_board: Enable the button board
 * battery_cell_count: Battery cell count for voltage and OSD
 *
 * ============================================================================
 * CHANNEL SCANNING
 * ============================================================================
 * scan_dwell_time_ms: Dwell time per channel during a scan, in ms
 *
 * ============================================================================
 * DEBUG & LOGGING
 * ============================================================================
 * debug_log: Debug logging
 *            "off": No logging enabled
 *            "on": Logging from start-up
 *            "arm": Logging from arming
 * ulog: MAVLink and link statistics log
 *            "off": No logging enabled
 *            "on": Logging from start-up
 *            "arm": Logging from arming
 *
 */
)HDR";
