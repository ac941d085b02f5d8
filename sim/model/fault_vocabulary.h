// The board's fault vocabulary: which transactions a fault can strike (its
// kinds), what it does to them (its action) and when. The kinds and actions
// are named in one table each (fault_vocabulary.cpp), which both the parser
// of "--fault KIND[@ADDR]:ACTION[:WHEN]" and the I2C log's result words read:
// a new action is a value here and a row there, and what it does to a
// transfer in i2c_bus_model.cpp.
#pragma once

#include <cstdint>
#include <string>

enum FaultKind : uint32_t {
    FK_ANY = 1u << 0,
    FK_SELECT = 1u << 1,
    FK_WRITE = 1u << 2,
    FK_READ = 1u << 3,
    FK_SMBUS = 1u << 4,
    FK_REG_WRITE = 1u << 5,
    FK_REG_READ = 1u << 6,
    FK_RESET = 1u << 7,
    FK_SEQ_START = 1u << 8,
    FK_BUFFER_CMD = 1u << 9,
    FK_BUFFER_READ = 1u << 10,
    FK_TEMP_WRITE = 1u << 11,
    FK_TEMP_READ = 1u << 12,
    FK_TRANSFER = 1u << 13,  // a plain read or write, of any device
};

// Transactions that move no bytes, so a short fault cannot strike them.
constexpr uint32_t FK_MOVES_NO_BYTES = FK_SELECT | FK_SMBUS;

// What a transaction comes to: None when no fault struck it, otherwise the
// action of the fault that did (or the board's own Enxio for a device that
// is not there).
enum class FaultAction { None, Nak, Enxio, Short, Hang };
enum class FaultWhen { Always, At, From, Every, Rate };

struct FaultRule {
    uint32_t kind = FK_ANY;
    int address = -1;  // -1: any device
    FaultAction action = FaultAction::Nak;
    FaultWhen when = FaultWhen::Always;
    long n = 0;        // at/from/every
    double rate = 0;   // rate
    long count = -1;   // -1: no limit
};

// KIND[@ADDR]:ACTION[:WHEN[,count=M]]; false with a message in *error.
bool parse_fault(const std::string& text, FaultRule* fault, std::string* error);

// The I2C log's result word: "ok" for None, else the action's name.
const char* fault_action_text(FaultAction action);

// The errno of a call that the action fails.
int fault_action_errno(FaultAction action);

// Whether fault number `index` fires on the `seen`th transaction it matches,
// having fired `injected` times before; rate faults draw from `seed`.
bool fault_fires(const FaultRule& fault, int index, long seen, long injected, uint64_t seed);
