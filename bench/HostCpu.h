// Processor time of Wine processes and threads, read from the host's
// scheduler through Wine's Z: drive. Wine reports no processor times for
// other processes, and its own thread times come in 10 ms ticks; the host
// counts nanoseconds (/proc/<pid>/task/<tid>/schedstat).
#pragma once
#include <string>

// The host id of the Wine process whose command line contains `program` (a
// Windows path without its drive letter), or 0 when there is none.
unsigned long HostProcessId(const std::wstring& program);

// Processor seconds of the live threads of a host process; negative when
// they cannot be read (the process has ended).
double HostProcessCpuSeconds(unsigned long hostId);

// Processor seconds of the calling thread; negative when unreadable.
double HostThreadCpuSeconds();
