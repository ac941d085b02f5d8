// Between the interposed C library calls and the scripted bus.
#pragma once

#include <sys/types.h>

#include <cstddef>

bool fake_bus_owns(int fd);
bool fake_bus_active();
int fake_bus_ioctl(unsigned long request, unsigned long arg);
ssize_t fake_bus_write(const void* data, size_t count);
ssize_t fake_bus_read(void* data, size_t count);
void fake_bus_sleep(long long us);
