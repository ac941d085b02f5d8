#include "decimal_text.h"

size_t put_decimal(long value, char* out) {
    char reversed[DECIMAL_TEXT_MAX];
    size_t n = 0;
    // Through the unsigned magnitude, so that the most negative value has one.
    unsigned long magnitude =
        value < 0 ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
    do {
        reversed[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    size_t length = 0;
    if (value < 0) out[length++] = '-';
    while (n > 0) out[length++] = reversed[--n];
    return length;
}
