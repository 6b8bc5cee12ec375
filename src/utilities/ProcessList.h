#pragma once

#include "platform/ProcessTable.h"

#include <vector>

// Every process of the machine as /proc shows it; 0 on success, else an errno value with an
// empty list. The list and count must come in empty.
int GetBSDProcessList(std::vector<ProcessEntry>* list, size_t* count);
