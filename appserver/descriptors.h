#pragma once

// The process's file descriptors: every socket, thread and database file takes one.

// Raises the soft limit on open descriptors to the hard one; returns the limit now in force.
long raiseDescriptorLimit();
// Whether `count` more descriptors can be opened now (checked by opening and closing them).
bool descriptorsToSpare(int count);
