#include "installation/ChangeSeam.h"

bool BeforeInstallChange(ChangeKind, const wchar_t*) { return true; }
