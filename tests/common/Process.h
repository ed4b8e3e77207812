#pragma once
// Facts about the test process itself.

// The process's resident set, in bytes, as the kernel counts it.
long ResidentBytes();
