#include "i2c_bus_model.h"

#include <linux/i2c.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "rf_model.h"

namespace {

constexpr int ADC_ADDR = 0x1D;
constexpr int TEMP_ADDR = 0x48;
constexpr uint8_t OP_SINGLE_WRITE = 0x08;
constexpr uint8_t OP_SINGLE_READ = 0x10;
constexpr uint8_t OP_READ_BUFFER = 0x3B;
constexpr uint8_t REG_DEVICE_RESET = 0x14;
constexpr uint8_t REG_WKEY = 0x17;
constexpr uint8_t REG_OPMODE_SEL = 0x1C;
constexpr uint8_t REG_START_SEQUENCE = 0x1E;
constexpr uint8_t REG_AUTO_SEQ_CHEN = 0x20;
constexpr uint8_t REG_DOUT_FORMAT_CFG = 0x28;
constexpr uint8_t WKEY_VALUE = 0x0A;
constexpr uint8_t OPMODE_AUTONOMOUS = 0x06;

constexpr long HANG_SECONDS = 10;

void log_line(SimBoard* b, int bus, const char* op, int addr, const char* detail, FaultAction o) {
    if (b->log_fd < 0) return;
    char line[256];
    int len = std::snprintf(line, sizeof line, "%d i2c-%d %s 0x%02x%s%s %s\n",
                            static_cast<int>(getpid()), bus, op, addr, *detail ? " " : "", detail,
                            fault_action_text(o));
    if (len > 0) {
        if (len >= static_cast<int>(sizeof line)) len = sizeof line - 1;
        syscall(SYS_write, b->log_fd, line, static_cast<size_t>(len));
    }
}

void hex_bytes(const uint8_t* data, size_t n, char* out, size_t out_size) {
    size_t pos = 0;
    out[0] = '\0';
    for (size_t i = 0; i < n && pos + 4 < out_size; ++i) {
        pos += std::snprintf(out + pos, out_size - pos, i ? " %02x" : "%02x", data[i]);
    }
    if (n > 0 && pos + 4 >= out_size && out_size > 4) std::snprintf(out + out_size - 5, 5, " ...");
}

// Every fault that matches the transaction counts it; the first that fires wins.
// A short fault matches only transfers that move bytes: a select or an SMBus
// call cannot be short, so it neither strikes nor counts them.
FaultAction check_faults(SimBoard* b, uint32_t kinds, int addr) {
    FaultAction result = FaultAction::None;
    for (int i = 0; i < b->cfg.fault_count; ++i) {
        const FaultRule& f = b->cfg.faults[i];
        if (!(f.kind & kinds)) continue;
        if (f.action == FaultAction::Short && (kinds & FK_MOVES_NO_BYTES)) continue;
        if (f.address >= 0 && f.address != addr) continue;
        long seen = ++b->fault_seen[i];
        bool fire = fault_fires(f, i, seen, b->fault_injected[i], b->cfg.seed);
        if (!fire || result != FaultAction::None) continue;
        ++b->fault_injected[i];
        result = f.action;
    }
    return result;
}

// A stuck bus: the transfer blocks in real time (a signal ends it early),
// with the board released meanwhile, then times out.
int hang_transfer(SimBoard* b, int bus, const char* op, int addr, const char* detail) {
    log_line(b, bus, op, addr, detail, FaultAction::Hang);
    unlock_board(b->state);
    timespec ts{HANG_SECONDS, 0};
    syscall(SYS_nanosleep, &ts, nullptr);
    return -fault_action_errno(FaultAction::Hang);
}

// One line per conversion sequence: the settings, the temperature, the true
// output power and the detector voltage before noise.
void log_truth(SimBoard* b, const RfDrift& drift, int frequency, int mcs, int power, double celsius,
               double mv) {
    if (b->truth_fd < 0) return;
    char line[200];
    int len = std::snprintf(line, sizeof line,
                            "%d frequency=%d mcs=%d power=%d temperature=%.3f dbm=%.4f mv=%.3f\n",
                            static_cast<int>(getpid()), frequency, mcs, power, celsius,
                            rf_true_dbm(b->unit, drift, frequency, mcs, power, celsius), mv);
    if (len > 0 && len < static_cast<int>(sizeof line))
        syscall(SYS_write, b->truth_fd, line, static_cast<size_t>(len));
}

void fill_buffer(SimBoard* b, SimAdcState* adc) {
    int chen = adc->regs[REG_AUTO_SEQ_CHEN] & 0x03;
    if (chen == 0) return;
    int frequency = b->state->frequency.load(std::memory_order_relaxed);
    int mcs = b->state->mcs.load(std::memory_order_relaxed);
    int power = b->state->power.load(std::memory_order_relaxed);
    double celsius = update_temperature_locked(b->state, b->cfg,
                                               board_now_ns(b->state, real_monotonic_ns()));
    const RfDrift drift = board_drift(b->state);
    double level[2] = {rf_detector_mv(b->cfg, b->unit, drift, 0, frequency, mcs, power, celsius),
                       rf_detector_mv(b->cfg, b->unit, drift, 1, frequency, mcs, power, celsius)};
    log_truth(b, drift, frequency, mcs, power, celsius, level[rf_band_of(frequency) == 0 ? 0 : 1]);
    bool with_id = adc->regs[REG_DOUT_FORMAT_CFG] == 0x02;
    for (int w = 0; w < 16; ++w) {
        int ch = chen == 0x03 ? (w & 1) : chen == 0x01 ? 0 : 1;
        double mv = level[ch] + b->cfg.noise_mv * rf_noise_unit(b->cfg.seed, b->noise_counter++);
        if (mv > b->cfg.saturate_mv) mv = b->cfg.saturate_mv;
        if (mv < 0) mv = 0;
        unsigned word = static_cast<unsigned>(rf_adc_code(mv)) << 4 | (with_id ? ch : 0);
        adc->buffer[2 * w] = static_cast<uint8_t>(word >> 8);
        adc->buffer[2 * w + 1] = static_cast<uint8_t>(word & 0xFF);
    }
    adc->buffer_filled = 1;
}

// With an ADC script the data-buffer read hands out the script's next
// buffer (the last one repeats), or the one listed for the transmitter's
// power index; an index the script does not list keeps the model's buffer.
void load_scripted_buffer(SimBoard* b, SimAdcState* adc) {
    const AdcScript& script = b->cfg.adc_script;
    if (script.keyed_by_power) {
        int power = b->state->power.load(std::memory_order_relaxed);
        if (power < 0 || power > SIM_MAX_POWER_INDEX || !script.power_listed[power]) return;
        std::memcpy(adc->buffer, script.by_power[power].data(), SIM_ADC_BUFFER_BYTES);
    } else if (!script.in_order.empty()) {
        size_t nth = static_cast<size_t>(b->scripted_reads++);
        if (nth >= script.in_order.size()) nth = script.in_order.size() - 1;
        std::memcpy(adc->buffer, script.in_order[nth].data(), SIM_ADC_BUFFER_BYTES);
    }
}

void adc_write_register(SimBoard* b, SimAdcState* adc, uint8_t reg, uint8_t value) {
    if (reg == REG_DEVICE_RESET) {
        // The reset only takes with the write key in place.
        if ((value & 0x01) && adc->regs[REG_WKEY] == WKEY_VALUE) reset_adc(adc);
        return;
    }
    if (reg == REG_START_SEQUENCE) {
        if ((value & 0x01) && adc->regs[REG_OPMODE_SEL] == OPMODE_AUTONOMOUS) fill_buffer(b, adc);
        return;  // self-clearing
    }
    adc->regs[reg] = value;
}

uint32_t adc_write_kinds(const uint8_t* data, size_t n) {
    uint32_t k = FK_ANY | FK_WRITE;
    if (n >= 1 && data[0] == OP_SINGLE_WRITE && n >= 3) {
        k |= FK_REG_WRITE;
        if (data[1] == REG_WKEY || data[1] == REG_DEVICE_RESET) k |= FK_RESET;
        if (data[1] == REG_START_SEQUENCE && data[2] == 0x01) k |= FK_SEQ_START;
    } else if (n >= 2 && data[0] == OP_SINGLE_READ) {
        k |= FK_REG_READ;
    } else if (n >= 1 && data[0] == OP_READ_BUFFER) {
        k |= FK_BUFFER_CMD;
    }
    return k;
}

void adc_write(SimBoard* b, SimAdcState* adc, const uint8_t* data, size_t n) {
    if (n == 0) return;
    adc->read_mode = ADC_READ_NONE;
    if (data[0] == OP_SINGLE_WRITE) {
        for (size_t i = 2; i < n; ++i) {
            adc_write_register(b, adc, static_cast<uint8_t>(data[1] + (i - 2)), data[i]);
        }
    } else if (data[0] == OP_SINGLE_READ && n >= 2) {
        adc->read_mode = ADC_READ_REGISTER;
        adc->read_reg = data[1];
    } else if (data[0] == OP_READ_BUFFER) {
        adc->read_mode = ADC_READ_BUFFER;
    }
}

void adc_read(const SimAdcState* adc, uint8_t* out, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        switch (adc->read_mode) {
            case ADC_READ_REGISTER: out[i] = adc->regs[(adc->read_reg + i) & 0xFF]; break;
            case ADC_READ_BUFFER: out[i] = i < sizeof adc->buffer ? adc->buffer[i] : 0; break;
            default: out[i] = 0; break;
        }
    }
}

uint16_t temp_register(SimBoard* b, int bus, bool count_read) {
    switch (b->state->temp[bus].pointer) {
        case 0: {
            double t = update_temperature_locked(b->state, b->cfg,
                                          board_now_ns(b->state, real_monotonic_ns()));
            if (count_read) {
                long nth = ++b->temp_reads;
                if (b->cfg.spike_at > 0 && nth >= b->cfg.spike_at &&
                    nth < b->cfg.spike_at + b->cfg.spike_len)
                    t = b->cfg.spike_c;
            }
            long raw = std::lround(t / 0.0625);
            if (raw < -2048) raw = -2048;
            if (raw > 2047) raw = 2047;
            return static_cast<uint16_t>((static_cast<unsigned long>(raw) & 0xFFF) << 4);
        }
        case 1: return 0x60A0;  // configuration register at power-on
        case 2: return 0x4B00;  // T_LOW 75 C
        default: return 0x5000; // T_HIGH 80 C
    }
}

}  // namespace

int64_t real_monotonic_ns() {
    timespec ts{};
    syscall(SYS_clock_gettime, CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

RfDrift board_drift(const BoardShared* state) {
    RfDrift drift;
    drift.output_loss_db = state->output_loss_db.load(std::memory_order_relaxed);
    drift.detector_loss_db = state->detector_loss_db.load(std::memory_order_relaxed);
    return drift;
}

bool bus_device_present(const SimBoard& board, int bus, int addr) {
    if (bus < 0 || bus > SIM_MAX_DEVICE_BUS) return false;
    if (addr == ADC_ADDR) return board.cfg.adc_on[bus];
    if (addr == TEMP_ADDR) return board.cfg.temp_on[bus];
    return false;
}

int bus_select(SimBoard* b, int bus, int addr) {
    lock_board(b->state);
    FaultAction o = check_faults(b, FK_ANY | FK_SELECT, addr);
    if (o == FaultAction::Hang) return hang_transfer(b, bus, "select", addr, "");
    // Only the board's own addresses: i2cdetect gives up at the first address it cannot select.
    if (o == FaultAction::None && b->cfg.select_absent_fails && (addr == ADC_ADDR || addr == TEMP_ADDR) &&
        !bus_device_present(*b, bus, addr))
        o = FaultAction::Enxio;
    log_line(b, bus, "select", addr, "", o);
    unlock_board(b->state);
    return o == FaultAction::None ? 0 : -fault_action_errno(o);
}

namespace {

// One plain transfer: faults, device presence and the log, around `move`,
// which carries the bytes that get through (all of them, or one less for a
// short transfer).
template <typename Move>
ssize_t plain_transfer(SimBoard* b, int bus, int addr, uint32_t kinds, const char* op,
                       const char* detail, size_t n, Move move) {
    lock_board(b->state);
    FaultAction o = check_faults(b, kinds, addr);
    if (o == FaultAction::Hang) return hang_transfer(b, bus, op, addr, detail);
    if (!bus_device_present(*b, bus, addr)) o = FaultAction::Enxio;
    ssize_t result = 0;
    if (o == FaultAction::Nak || o == FaultAction::Enxio) {
        result = -fault_action_errno(o);
    } else {
        size_t moved = o == FaultAction::Short && n > 0 ? n - 1 : n;
        move(moved);
        result = static_cast<ssize_t>(moved);
    }
    log_line(b, bus, op, addr, detail, o);
    unlock_board(b->state);
    return result;
}

}  // namespace

ssize_t bus_write(SimBoard* b, int bus, int addr, const uint8_t* data, size_t n) {
    uint32_t kinds = FK_ANY | FK_WRITE;
    if (addr == ADC_ADDR) kinds = adc_write_kinds(data, n);
    kinds |= FK_TRANSFER;
    if (addr == TEMP_ADDR) kinds |= FK_TEMP_WRITE;
    char detail[128];
    hex_bytes(data, n, detail, sizeof detail);
    return plain_transfer(b, bus, addr, kinds, "write", detail, n, [&](size_t moved) {
        if (addr == ADC_ADDR) {
            adc_write(b, &b->state->adc[bus], data, moved);
        } else if (moved >= 1) {
            b->state->temp[bus].pointer = data[0] & 0x03;
        }
    });
}

ssize_t bus_read(SimBoard* b, int bus, int addr, uint8_t* data, size_t n) {
    uint32_t kinds = FK_ANY | FK_READ | FK_TRANSFER;
    if (addr == ADC_ADDR && bus >= 0 && bus <= SIM_MAX_DEVICE_BUS) {
        uint8_t mode = b->state->adc[bus].read_mode;
        if (mode == ADC_READ_REGISTER) kinds |= FK_REG_READ;
        if (mode == ADC_READ_BUFFER) kinds |= FK_BUFFER_READ;
    }
    if (addr == TEMP_ADDR) kinds |= FK_TEMP_READ;
    char detail[32];
    std::snprintf(detail, sizeof detail, "%zu", n);
    return plain_transfer(b, bus, addr, kinds, "read", detail, n, [&](size_t moved) {
        if (addr == ADC_ADDR) {
            SimAdcState* adc = &b->state->adc[bus];
            if (adc->read_mode == ADC_READ_BUFFER && moved > 0) load_scripted_buffer(b, adc);
            adc_read(adc, data, moved);
        } else {
            uint16_t word = temp_register(b, bus, true);
            for (size_t i = 0; i < moved; ++i)
                data[i] = static_cast<uint8_t>(i % 2 == 0 ? word >> 8 : word & 0xFF);
        }
    });
}

int bus_smbus(SimBoard* b, int bus, int addr, int read_write, uint8_t command, uint32_t size,
              uint8_t* data) {
    const char* op = "smbus";
    switch (size) {
        case I2C_SMBUS_QUICK: op = "smbus-quick"; break;
        case I2C_SMBUS_BYTE: op = read_write == I2C_SMBUS_READ ? "smbus-read-byte" : "smbus-write-byte"; break;
        case I2C_SMBUS_BYTE_DATA: op = read_write == I2C_SMBUS_READ ? "smbus-read-byte-data" : "smbus-write-byte-data"; break;
        case I2C_SMBUS_WORD_DATA: op = read_write == I2C_SMBUS_READ ? "smbus-read-word-data" : "smbus-write-word-data"; break;
        default: return -EOPNOTSUPP;
    }
    if (size != I2C_SMBUS_QUICK && read_write == I2C_SMBUS_READ && data == nullptr) return -EINVAL;

    lock_board(b->state);
    FaultAction o = check_faults(b, FK_ANY | FK_SMBUS, addr);
    if (o == FaultAction::Hang) return hang_transfer(b, bus, op, addr, "");
    if (!bus_device_present(*b, bus, addr)) o = FaultAction::Enxio;
    if (o != FaultAction::None) {
        log_line(b, bus, op, addr, "", o);
        unlock_board(b->state);
        return -fault_action_errno(o);
    }
    const bool adc = addr == ADC_ADDR;
    SimAdcState* adc_state = &b->state->adc[bus];
    auto write_bytes = [&](const uint8_t* bytes, size_t n) {
        if (adc) adc_write(b, adc_state, bytes, n);
        else if (n >= 1) b->state->temp[bus].pointer = bytes[0] & 0x03;
    };
    auto read_bytes = [&](uint8_t* out, size_t n) {
        if (adc) {
            adc_read(adc_state, out, n);
        } else {
            uint16_t word = temp_register(b, bus, false);
            for (size_t i = 0; i < n; ++i)
                out[i] = static_cast<uint8_t>(i % 2 == 0 ? word >> 8 : word & 0xFF);
        }
    };
    if (size == I2C_SMBUS_BYTE) {
        if (read_write == I2C_SMBUS_READ) read_bytes(data, 1);
        else write_bytes(&command, 1);
    } else if (size == I2C_SMBUS_BYTE_DATA || size == I2C_SMBUS_WORD_DATA) {
        size_t n = size == I2C_SMBUS_BYTE_DATA ? 1 : 2;
        if (read_write == I2C_SMBUS_READ) {
            write_bytes(&command, 1);
            uint8_t wire[2] = {0, 0};
            read_bytes(wire, n);
            data[0] = wire[0];  // SMBus words travel low byte first
            if (n == 2) data[1] = wire[1];
        } else {
            uint8_t wire[3] = {command, data ? data[0] : uint8_t{0}, data ? data[1] : uint8_t{0}};
            write_bytes(wire, n + 1);
        }
    }
    log_line(b, bus, op, addr, "", o);
    unlock_board(b->state);
    return 0;
}
