// Counts every malloc, calloc, realloc and aligned allocation of the process
// (operator new included) while armed. Only for uninstrumented builds: the
// sanitizers bring allocators of their own.
#pragma once

#include <cstddef>

void allocation_counter_arm(bool on);
size_t allocation_counter_value();
