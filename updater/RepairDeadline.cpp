#include "updater/RepairDeadline.h"

DWORD RepairPassDeadlineMs() { return kRepairPassDeadlineMs; }
