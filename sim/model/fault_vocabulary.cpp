#include "fault_vocabulary.h"

#include <cerrno>

#include "option_text.h"
#include "rf_model.h"

namespace {

struct KindName {
    const char* text;
    uint32_t kind;
};

const KindName FAULT_KINDS[] = {
    {"any", FK_ANY},           {"select", FK_SELECT},         {"write", FK_WRITE},
    {"read", FK_READ},         {"smbus", FK_SMBUS},           {"reg-write", FK_REG_WRITE},
    {"reg-read", FK_REG_READ}, {"reset", FK_RESET},           {"seq-start", FK_SEQ_START},
    {"buffer-cmd", FK_BUFFER_CMD}, {"buffer-read", FK_BUFFER_READ},
    {"temp-write", FK_TEMP_WRITE}, {"temp-read", FK_TEMP_READ},
    {"transfer", FK_TRANSFER},
};

struct ActionName {
    FaultAction action;
    const char* text;  // in "--fault" and as the I2C log's result
    int error;         // errno of the call it fails (a short transfer does not fail)
};

// None is no fault: its word is only ever logged, never parsed.
const ActionName FAULT_ACTIONS[] = {
    {FaultAction::None, "ok", 0},
    {FaultAction::Nak, "nak", EREMOTEIO},
    {FaultAction::Enxio, "enxio", ENXIO},
    {FaultAction::Short, "short", 0},
    {FaultAction::Hang, "hang", ETIMEDOUT},
};

const ActionName& action_name(FaultAction action) {
    for (const ActionName& a : FAULT_ACTIONS) {
        if (a.action == action) return a;
    }
    return FAULT_ACTIONS[0];
}

bool parse_fault_kind(const std::string& text, uint32_t* kind) {
    for (const KindName& k : FAULT_KINDS) {
        if (text == k.text) {
            *kind = k.kind;
            return true;
        }
    }
    return false;
}

bool parse_fault_action(const std::string& text, FaultAction* action) {
    for (const ActionName& a : FAULT_ACTIONS) {
        if (a.action != FaultAction::None && text == a.text) {
            *action = a.action;
            return true;
        }
    }
    return false;
}

// "at=N", "from=N", "every=N", "rate=P" and "count=M", comma-separated.
bool parse_fault_when(const std::string& when, FaultRule* fault) {
    fault->when = FaultWhen::Always;
    size_t pos = 0;
    while (pos < when.size()) {
        size_t comma = when.find(',', pos);
        if (comma == std::string::npos) comma = when.size();
        std::string item = when.substr(pos, comma - pos);
        size_t eq = item.find('=');
        if (eq == std::string::npos) return false;
        std::string key = item.substr(0, eq), val = item.substr(eq + 1);
        if (key == "rate") {
            if (!parse_double(val, &fault->rate) || fault->rate < 0 || fault->rate > 1) return false;
            fault->when = FaultWhen::Rate;
        } else {
            long n = 0;
            if (!parse_long(val, &n) || n < 1) return false;
            if (key == "at") fault->when = FaultWhen::At, fault->n = n;
            else if (key == "from") fault->when = FaultWhen::From, fault->n = n;
            else if (key == "every") fault->when = FaultWhen::Every, fault->n = n;
            else if (key == "count") fault->count = n;
            else return false;
        }
        pos = comma + 1;
    }
    return true;
}

}  // namespace

bool parse_fault(const std::string& text, FaultRule* fault, std::string* error) {
    *error = "bad fault '" + text + "' (KIND[@ADDR]:ACTION[:WHEN])";
    size_t c1 = text.find(':');
    if (c1 == std::string::npos) return false;
    size_t c2 = text.find(':', c1 + 1);
    std::string kind_part = text.substr(0, c1);
    std::string action = text.substr(c1 + 1, c2 == std::string::npos ? std::string::npos
                                                                       : c2 - c1 - 1);
    std::string when = c2 == std::string::npos ? "" : text.substr(c2 + 1);

    size_t at = kind_part.find('@');
    if (at != std::string::npos) {
        long addr = -1;
        if (!parse_long(kind_part.substr(at + 1), &addr) || addr < 0 || addr > 0x7F) return false;
        fault->address = static_cast<int>(addr);
        kind_part = kind_part.substr(0, at);
    }
    if (!parse_fault_kind(kind_part, &fault->kind)) return false;
    if (!parse_fault_action(action, &fault->action)) return false;
    if (fault->action == FaultAction::Short && (fault->kind & FK_MOVES_NO_BYTES)) {
        *error = "bad fault '" + text + "': select and smbus transactions cannot be short";
        return false;
    }
    if (!parse_fault_when(when, fault)) return false;
    error->clear();
    return true;
}

const char* fault_action_text(FaultAction action) { return action_name(action).text; }

int fault_action_errno(FaultAction action) { return action_name(action).error; }

bool fault_fires(const FaultRule& f, int index, long seen, long injected, uint64_t seed) {
    bool fire = false;
    switch (f.when) {
        case FaultWhen::Always: fire = true; break;
        case FaultWhen::At: fire = seen == f.n; break;
        case FaultWhen::From: fire = seen >= f.n; break;
        case FaultWhen::Every: fire = seen % f.n == 0; break;
        case FaultWhen::Rate:
            fire = (rf_noise_unit(seed ^ (0xFA17ull + index), static_cast<uint64_t>(seen)) + 1.0) /
                       2.0 <
                   f.rate;
            break;
    }
    return fire && !(f.count >= 0 && injected >= f.count);
}
